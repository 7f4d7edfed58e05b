#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "engine/resolve.h"

namespace zavren {

// Why a file or folder the engine runs or reads cannot be trusted, for the user
// (after its path);
// nullopt when it can. After links are resolved, it and every folder above it
// must belong to `uid` or root and be writable by neither group nor others:
// whoever could rewrite it would run code as this user at the next start. A
// shared folder with the sticky bit (/tmp) may sit above it, since others cannot
// replace what is ours in there, but is never trusted itself.
std::optional<std::string> untrustedPath(const std::string& path, uid_t uid);

// The same for every file a launch uses (program, script, models, models
// folder), the path first.
std::optional<std::string> untrustedLaunch(const Resolved& resolved, uid_t uid);

}  // namespace zavren
