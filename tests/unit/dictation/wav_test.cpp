#include "dictation/wav.h"

#include <gtest/gtest.h>

#include <cstring>

namespace zavren {
namespace {

std::string le32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    return s;
}

std::string chunk(const std::string& id, const std::string& bytes) {
    std::string c = id + le32(static_cast<std::uint32_t>(bytes.size())) + bytes;
    if (bytes.size() % 2) c.push_back('\0');
    return c;
}

const std::string FMT = chunk("fmt ", std::string(16, '\x01'));

TEST(FindDataOffset, WalksChunksIncludingPadBytes) {
    struct Case {
        const char* name;
        std::string head;
        std::optional<std::int64_t> want;
    } cases[] = {
        {"plain44", "RIFF" + le32(0) + "WAVE" + FMT + "data" + le32(0), 44},
        {"extraEven", "RIFF" + le32(0) + "WAVE" + FMT + chunk("LIST", "abcd") + "data" + le32(0),
         56},
        {"extraOdd", "RIFF" + le32(0) + "WAVE" + FMT + chunk("junk", "abc") + "data" + le32(0), 56},
        {"dataSizeNotYetWritten", "RIFF" + le32(0) + "WAVE" + FMT + "data", std::nullopt},
        {"notRiff", "RIFX" + le32(0) + "WAVE" + FMT + "data" + le32(0), std::nullopt},
        {"notWave", "RIFF" + le32(0) + "AVI " + FMT + "data" + le32(0), std::nullopt},
        {"under20", "RIFF" + le32(0) + "WAVEdata", std::nullopt},
        {"hugeChunk", "RIFF" + le32(0) + "WAVE" + "junk" + le32(0xFFFFFFFF) + "data" + le32(0),
         std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(findDataOffset(c.head), c.want) << c.name;
}

TEST(FindDataOffset, LooksOnlyAtTheFirst16KiB) {
    // "data" must begin at most 8 bytes before the end of the window.
    auto withDataAt = [](std::size_t at) {
        return "RIFF" + le32(0) + "WAVE" + FMT + chunk("pad ", std::string(at - 44, 'x')) + "data" +
               le32(0) + std::string(64, '\0');
    };
    EXPECT_EQ(findDataOffset(withDataAt(16376)), 16384);
    EXPECT_EQ(findDataOffset(withDataAt(16378)), std::nullopt);
}

TEST(WrapWav, Writes44ByteHeaderAroundTheSamples) {
    const std::string pcm(32000, '\x7f');
    const std::string w = wrapWav(pcm);
    EXPECT_EQ(w, "RIFF" + le32(32036) + "WAVEfmt " + le32(16) + std::string("\x01\x00\x01\x00", 4) +
                     le32(16000) + le32(32000) + std::string("\x02\x00\x10\x00", 4) + "data" +
                     le32(32000) + pcm);
    EXPECT_EQ(findDataOffset(w), 44);
}

}  // namespace
}  // namespace zavren
