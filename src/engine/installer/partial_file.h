#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/installer/sha256.h"

namespace zavren {

// The partial download as a transfer resumes it.
struct PartialFile {
    Sha256 hasher;              // over the bytes already in the file
    std::int64_t received = 0;  // how many bytes that is
    int fd = -1;                // open for writing at `received`; -1 when it cannot be opened
};

// Hashes the readable prefix of `path` in 4 MiB chunks (a read error ends the scan;
// what was read stays counted). Anything but a regular file (missing, unreadable,
// a symlink) is replaced by an empty file.
void scanPartial(const std::string& path, Sha256& hasher, std::int64_t& received);

// Scans the partial file, starts it over when it already holds `size` bytes or
// more (it would never verify as is), and opens it for appending.
PartialFile preparePartial(const std::string& path, std::int64_t size);

// Writes every byte or returns the errno that stopped it.
int writeAll(int fd, const char* data, std::size_t size);

// A short Chinese description of a file-system errno, for the messages users see.
std::string describeErrno(int err);

}  // namespace zavren
