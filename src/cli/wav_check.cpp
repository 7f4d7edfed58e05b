#include "cli/wav_check.h"

#include <cstdint>

namespace zavren::cli {

namespace {

std::uint32_t le(std::string_view b, std::size_t at, std::size_t n) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < n; ++i)
        v |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
    return v;
}

constexpr std::uint32_t PCM = 1;
constexpr std::uint32_t RATE = 16000;

}  // namespace

std::optional<std::string> wavProblem(std::string_view b) {
    if (b.size() < 12 || b.substr(0, 4) != "RIFF" || b.substr(8, 4) != "WAVE")
        return "不是 RIFF/WAVE 文件";
    bool haveFormat = false;
    std::size_t at = 12;
    while (at + 8 <= b.size()) {
        const std::string_view id = b.substr(at, 4);
        const std::uint64_t size = le(b, at + 4, 4);
        const std::size_t body = at + 8;
        const std::size_t present = b.size() - body;
        if (id == "fmt ") {
            if (size < 16 || present < 16) return "WAV 格式块不完整";
            if (le(b, body, 2) != PCM) return "不是 PCM 编码";
            if (le(b, body + 2, 2) != 1) return "不是单声道";
            if (le(b, body + 4, 4) != RATE) return "采样率不是 16 kHz";
            if (le(b, body + 14, 2) != 16) return "采样位数不是 16 位";
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat) return "缺少格式块";
            // A header-only file, or one cut short, holds no sample to transcribe.
            if (size < 2 || present < 2) return "没有音频数据";
            return std::nullopt;
        }
        // Odd-sized chunks carry one pad byte.
        if (size + (size & 1) > present) break;
        at = body + static_cast<std::size_t>(size + (size & 1));
    }
    return haveFormat ? "没有音频数据" : "缺少格式块";
}

}  // namespace zavren::cli
