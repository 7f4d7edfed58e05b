#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace zavren {

// One archive member as its header describes it.
struct ArchiveEntry {
    enum class Type { regular, directory, symlink, hardlink, other };
    std::string name;
    Type type = Type::regular;
    std::string linkTarget;  // symlinks and hard links
    std::int64_t size = 0;   // declared data size
};

// Why this member must not be unpacked into a fresh folder, for the user; nullopt
// when it may. Only regular files, folders and symlinks; names relative without
// "..", and link targets that stay inside the top folder holding the link even
// once that folder is moved elsewhere. Pure: looks at nothing but the entry.
std::optional<std::string> entryRefusal(const ArchiveEntry& entry);

// The same for a whole archive read in order: also refuses a member written
// through a link an earlier member made, or a name given twice.
class ArchiveEntryChecker {
  public:
    std::optional<std::string> check(const ArchiveEntry& entry);

  private:
    std::set<std::string> links_;
    std::set<std::string> names_;  // everything but folders
    std::set<std::string> dirs_;
};

}  // namespace zavren
