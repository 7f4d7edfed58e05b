#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zavren {

inline constexpr std::size_t WAV_HEADER_SEARCH = 16384;
inline constexpr std::size_t WAV_HEADER_SIZE = 44;

// Offset of the first sample byte in a RIFF/WAVE file, given its first bytes
// (at most WAV_HEADER_SEARCH are looked at). None when "data" is not in sight yet.
std::optional<std::int64_t> findDataOffset(std::string_view head);

// True when the bytes begin like a RIFF/WAVE file.
bool isRiffWave(std::string_view bytes);

// 16 kHz mono 16-bit PCM samples behind a fixed 44-byte header.
std::string wrapWav(std::string_view pcm);

}  // namespace zavren
