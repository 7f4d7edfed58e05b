#include "dictation/wav.h"

#include <algorithm>
#include <limits>

namespace zavren {

namespace {

std::uint32_t readLe32(std::string_view s, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v |= static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + i])) << (8 * i);
    return v;
}

void putLe(std::string& out, std::uint32_t v, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

}  // namespace

bool isRiffWave(std::string_view bytes) {
    return bytes.size() >= 12 && bytes.substr(0, 4) == "RIFF" && bytes.substr(8, 4) == "WAVE";
}

std::optional<std::int64_t> findDataOffset(std::string_view head) {
    head = head.substr(0, std::min(head.size(), WAV_HEADER_SEARCH));
    if (!isRiffWave(head) || head.size() < 20) return std::nullopt;
    std::uint64_t offset = 12;
    while (offset + 8 <= head.size()) {
        const auto at = static_cast<std::size_t>(offset);
        if (head.substr(at, 4) == "data") return static_cast<std::int64_t>(offset + 8);
        const std::uint64_t size = readLe32(head, at + 4);
        // Odd-sized chunks carry one pad byte.
        offset += 8 + size + (size & 1);
    }
    return std::nullopt;
}

std::string wrapWav(std::string_view pcm) {
    // The size fields are 32 bits; a segment that large cannot come from the
    // preview, but saturate rather than wrap around.
    const auto limit = static_cast<std::uint64_t>(std::numeric_limits<std::uint32_t>::max() - 36);
    const auto dataSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(pcm.size(), limit));
    std::string out;
    out.reserve(WAV_HEADER_SIZE + pcm.size());
    out += "RIFF";
    putLe(out, dataSize + 36, 4);
    out += "WAVEfmt ";
    putLe(out, 16, 4);
    putLe(out, 1, 2);      // PCM
    putLe(out, 1, 2);      // mono
    putLe(out, 16000, 4);  // sample rate
    putLe(out, 32000, 4);  // byte rate
    putLe(out, 2, 2);      // block alignment
    putLe(out, 16, 2);     // bits per sample
    out += "data";
    putLe(out, dataSize, 4);
    out.append(pcm);
    return out;
}

}  // namespace zavren
