#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace zavren::files {

// Reads a whole regular file without following a symlink at the final component.
std::optional<std::string> readNoFollow(const std::string& path);

// Reads a whole file (symlinks followed), nullopt when it cannot be read.
std::optional<std::string> read(const std::string& path);

// Writes a file atomically: a temporary file beside it, then rename. The file gets
// the permissions the umask allows, as a newly created file would. False on failure.
bool writeAtomic(const std::string& path, const std::string& bytes);
// The same with fixed permissions, whatever the umask.
bool writeAtomic(const std::string& path, const std::string& bytes, mode_t mode);

// Removes a file or empty directory, ignoring every error.
void removeQuietly(const std::string& path);

bool exists(const std::string& path);

// This process's file-creation mask.
mode_t currentUmask();

}  // namespace zavren::files
