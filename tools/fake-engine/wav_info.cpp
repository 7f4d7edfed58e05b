#include "wav_info.h"

#include <algorithm>
#include <cstdint>

namespace zavren::fake {

namespace {

std::uint32_t le32(std::string_view b, std::size_t at) {
    auto u = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + i]));
    };
    return u(0) | u(1) << 8 | u(2) << 16 | u(3) << 24;
}

}  // namespace

std::optional<double> wavSeconds(std::string_view b) {
    if (b.size() < 12 || b.substr(0, 4) != "RIFF" || b.substr(8, 4) != "WAVE") return std::nullopt;
    std::uint32_t byteRate = 0;
    std::size_t at = 12;
    while (at + 8 <= b.size()) {
        std::string_view id = b.substr(at, 4);
        std::uint64_t size = le32(b, at + 4);
        std::size_t body = at + 8;
        if (id == "fmt " && size >= 16 && body + 16 <= b.size()) {
            byteRate = le32(b, body + 8);
        } else if (id == "data") {
            if (byteRate == 0) return std::nullopt;
            std::uint64_t present = std::min<std::uint64_t>(size, b.size() - body);
            return static_cast<double>(present) / byteRate;
        }
        at = body + size + (size & 1);  // chunks are padded to even length
    }
    return std::nullopt;
}

}  // namespace zavren::fake
