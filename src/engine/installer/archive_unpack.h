#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "engine/manifest.h"

namespace zavren {

// Free bytes in the file system holding a folder; none when unknown.
using FreeBytesProbe = std::function<std::optional<std::int64_t>(const std::string& folder)>;

// Refused whatever the free space: no engine comes near it, a bomb does.
inline constexpr std::int64_t MAX_UNPACKED_BYTES = std::int64_t{16} << 30;
inline constexpr std::int64_t MAX_ARCHIVE_ENTRIES = 200'000;

// Unpacks a gzip-compressed tar into installRoot: every header is checked first
// (member types, names, link targets, the total size against the cap and the free
// space), then the members are written into installRoot/.extract-tmp, checked again
// one by one, with modes we can always replace and remove, and the engine-* folder
// is moved into place, replacing the same version. A message for the user, or
// nullopt once installed; nothing but the archive is left behind either way.
std::optional<std::string> unpackEngine(const std::string& archivePath,
                                        const std::string& installRoot,
                                        const FreeBytesProbe& freeBytes);

// For an archive that did not arrive through the download: asset.sha256 must be 64
// hex digits (any case), the archive exactly asset.size bytes hashing to it; then
// it is unpacked as above.
std::optional<std::string> verifyAndUnpack(const EngineManifest::Asset& asset,
                                           const std::string& archivePath,
                                           const std::string& installRoot,
                                           const FreeBytesProbe& freeBytes);

// The user-facing sentences the download and the unpacking share.
namespace install_messages {
extern const std::string CORRUPT;
extern const std::string NO_ENGINE_DIR;
std::string noSpace(std::int64_t needed, std::int64_t free);
}  // namespace install_messages

}  // namespace zavren
