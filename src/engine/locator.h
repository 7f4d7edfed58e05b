#pragma once

#include <optional>
#include <string>

#include "shared/paths.h"
#include "shared/types.h"

namespace zavren::EngineLocator {

struct Installed {
    std::string dir;
    std::string version;
    EngineKind kind = EngineKind::python;
    bool operator==(const Installed&) const = default;
};

inline const std::string& root(const Paths& paths) {
    return paths.engineRoot;
}

// The flavour whose files are all present in dir; nullopt when neither is complete.
std::optional<EngineKind> engineKind(const std::string& dir);

// The best usable engine under root: llama beats python whatever the versions,
// otherwise the numerically highest version, the first listed among equals.
// Pure file-system inspection; never throws, never logs.
//
// An "engine-*" entry that is a symlink to a directory counts like that directory
// (and is reported under the link's own path); a broken symlink, like a plain file,
// is simply not an engine.
std::optional<Installed> installed(const std::string& root);

// The folder where version would be installed, and whether a usable engine is there.
std::string versionDir(const std::string& root, const std::string& version);
bool usable(const std::string& dir);

// Whether dir is an engine folder that was unpacked from an archive. An engine the
// user registered is a folder of links to absolute paths (which no accepted
// archive holds), or a link itself: neither counts.
bool downloaded(const std::string& dir);
// Whether root holds at least one downloaded engine folder, usable or not.
bool anyDownloaded(const std::string& root);
// Deletes every downloaded engine and what a download or unpack left behind;
// registered engines and whatever they point to stay.
void removeDownloaded(const std::string& root);

// Deletes root and everything in it; every error is ignored. A symlinked root
// loses only the link.
void removeAll(const std::string& root);

}  // namespace zavren::EngineLocator
