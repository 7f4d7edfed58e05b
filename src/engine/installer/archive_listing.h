#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zavren {

// One member as GNU tar lists it with --verbose --quoting-style=c.
struct ArchiveMember {
    char type = '-';         // first character of the mode string: '-', 'd', 'l', 'h', ...
    std::string name;        // unescaped
    std::string linkTarget;  // symlink target or hard-link target, unescaped
};

// Parses the output of `tar --list --verbose --quoting-style=c`. Lines that are not
// member lines (tar's own warnings share the stream) are skipped; nullopt when a
// member line cannot be parsed.
std::optional<std::vector<ArchiveMember>> parseTarListing(const std::string& listing);

// Why unpacking these members could write or point outside the target folder
// (absolute names, "..", links leading out, writing through a link, device files);
// nullopt when every member stays inside.
struct UnsafeMember {
    std::string name;    // as the archive names it
    std::string reason;  // why it is refused, for the user
};
std::optional<UnsafeMember> unsafeMember(const std::vector<ArchiveMember>& members);

}  // namespace zavren
