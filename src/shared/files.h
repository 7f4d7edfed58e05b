#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace zavren::files {

// What a file in the user's folders turned out to be. Opened without blocking, so
// a FIFO or a device in its place is noticed at once instead of hanging us.
enum class UserFile { missing, ok, notRegular, tooLarge, unreadable };
UserFile checkUserFile(const std::string& path, std::size_t maxBytes);

// At most maxBytes of a regular file (complete false when there was more), opened
// as checkUserFile opens it; nullopt when it is missing, not regular or unreadable.
struct CappedRead {
    std::string bytes;
    bool complete = true;
};
std::optional<CappedRead> readCapped(const std::string& path, std::size_t maxBytes);

// Reads a whole regular file without following a symlink at the final component.
std::optional<std::string> readNoFollow(const std::string& path);

// Reads a whole file (symlinks followed), nullopt when it cannot be read.
std::optional<std::string> read(const std::string& path);

// Writes a file atomically: a temporary file beside it, then rename. The file gets
// the permissions the umask allows, as a newly created file would. False on failure.
bool writeAtomic(const std::string& path, const std::string& bytes);
// The same with fixed permissions, whatever the umask.
bool writeAtomic(const std::string& path, const std::string& bytes, mode_t mode);

// Removes a file or a whole folder without following links. Folders of ours that
// we may not write or enter (an archive's 0500) are opened up first. False when
// something stays.
bool removeTree(const std::string& path);

// Removes a file or empty directory, ignoring every error.
void removeQuietly(const std::string& path);

bool exists(const std::string& path);

// This process's file-creation mask.
mode_t currentUmask();

}  // namespace zavren::files
