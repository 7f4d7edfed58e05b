#include "dictation/wav.h"

#include <gtest/gtest.h>

namespace zavren {
namespace {

std::string le32(std::uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
    return s;
}

std::string chunk(const std::string& id, const std::string& bytes) {
    return id + le32(static_cast<std::uint32_t>(bytes.size())) + bytes +
           std::string(bytes.size() % 2, '\0');
}

TEST(FindDataOffset, WalksChunksIncludingPadBytesWithinTheFirst16KiB) {
    const std::string riff = "RIFF" + le32(0) + "WAVE" + chunk("fmt ", std::string(16, '\x01'));
    const std::string data = "data" + le32(0);
    // "data" must begin at most 8 bytes before the end of the window.
    auto withDataAt = [&](std::size_t at) {
        return riff + chunk("pad ", std::string(at - 44, 'x')) + data + std::string(64, '\0');
    };
    struct Case {
        const char* name;
        std::string head;
        std::optional<std::int64_t> want;
    } cases[] = {
        {"plain44", riff + data, 44},
        {"extraEven", riff + chunk("LIST", "abcd") + data, 56},
        {"extraOdd", riff + chunk("junk", "abc") + data, 56},
        {"dataSizeNotYetWritten", riff + "data", std::nullopt},
        {"notRiff", "RIFX" + riff.substr(4) + data, std::nullopt},
        {"notWave", riff.substr(0, 8) + "AVI " + riff.substr(12) + data, std::nullopt},
        {"under20", "RIFF" + le32(0) + "WAVEdata", std::nullopt},
        {"hugeChunk", riff.substr(0, 12) + "junk" + le32(0xFFFFFFFF) + data, std::nullopt},
        {"lastPlaceInTheWindow", withDataAt(16376), 16384},
        {"pastTheWindow", withDataAt(16378), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(findDataOffset(c.head), c.want) << c.name;
}

TEST(WrapWav, Writes44ByteHeaderAroundTheSamples) {
    const std::string pcm(32000, '\x7f');
    EXPECT_EQ(wrapWav(pcm), "RIFF" + le32(32036) + "WAVEfmt " + le32(16) +
                                std::string("\x01\x00\x01\x00", 4) + le32(16000) + le32(32000) +
                                std::string("\x02\x00\x10\x00", 4) + "data" + le32(32000) + pcm);
}

}  // namespace
}  // namespace zavren
