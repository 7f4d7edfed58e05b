#include "pulse/wav_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace zavren {
namespace {

namespace fs = std::filesystem;

class WavWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/zavren-wav-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }

    static std::string slurp(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::uint32_t u32(const std::string& b, size_t at) {
        std::uint32_t v = 0;
        std::memcpy(&v, b.data() + at, 4);
        return v;
    }
    static std::uint16_t u16(const std::string& b, size_t at) {
        std::uint16_t v = 0;
        std::memcpy(&v, b.data() + at, 2);
        return v;
    }

    fs::path dir;
};

TEST_F(WavWriterTest, WritesAHeaderFirstAndPatchesTheSizesAtFinish) {
    const auto path = dir / "a.wav";
    auto w = WavWriter::create(path);
    ASSERT_TRUE(w);
    // Readers of the growing file see the header before any audio.
    EXPECT_EQ(fs::file_size(path), 44u);
    const std::int16_t samples[] = {1, -2, 3000, -32768};
    ASSERT_TRUE(w->append(samples, sizeof(samples)));
    EXPECT_EQ(fs::file_size(path), 44u + sizeof(samples));
    ASSERT_TRUE(w->finish());
    ASSERT_TRUE(w->finish());

    const auto b = slurp(path);
    ASSERT_EQ(b.size(), 52u);
    EXPECT_EQ(b.substr(0, 4), "RIFF");
    EXPECT_EQ(u32(b, 4), 44u);
    EXPECT_EQ(b.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(u32(b, 16), 16u);
    EXPECT_EQ(u16(b, 20), 1);  // PCM
    EXPECT_EQ(u16(b, 22), 1);  // mono
    EXPECT_EQ(u32(b, 24), 16000u);
    EXPECT_EQ(u32(b, 28), 32000u);
    EXPECT_EQ(u16(b, 32), 2);
    EXPECT_EQ(u16(b, 34), 16);
    EXPECT_EQ(b.substr(36, 4), "data");
    EXPECT_EQ(u32(b, 40), 8u);
    EXPECT_EQ(std::memcmp(b.data() + 44, samples, 8), 0);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(WavWriterTest, FragmentsSplitInsideASampleStayAligned) {
    const auto path = dir / "b.wav";
    auto w = WavWriter::create(path);
    ASSERT_TRUE(w);
    const unsigned char bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    w->append(bytes, 1);
    w->append(bytes + 1, 4);
    w->append(bytes + 5, 1);
    w->finish();
    const auto b = slurp(path);
    ASSERT_EQ(b.size(), 50u);
    EXPECT_EQ(u32(b, 40), 6u);
    EXPECT_EQ(std::memcmp(b.data() + 44, bytes, 6), 0);
}

TEST_F(WavWriterTest, NeverFollowsASymlinkAtThePath) {
    const auto target = dir / "precious";
    { std::ofstream(target) << "keep me"; }
    fs::create_symlink(target, dir / "rec.wav");
    EXPECT_FALSE(WavWriter::create(dir / "rec.wav"));
    EXPECT_EQ(slurp(target), "keep me");
}

TEST_F(WavWriterTest, RefusesAFifoWithoutHanging) {
    const auto path = dir / "fifo.wav";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_FALSE(WavWriter::create(path));
}

TEST_F(WavWriterTest, TruncatesAnOldFileAndMakesItPrivate) {
    const auto path = dir / "old.wav";
    { std::ofstream(path) << std::string(1000, 'x'); }
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    auto w = WavWriter::create(path);
    ASSERT_TRUE(w);
    w->finish();
    EXPECT_EQ(fs::file_size(path), 44u);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(WavWriterTest, MissingFolderGivesNoWriter) {
    EXPECT_FALSE(WavWriter::create(dir / "nope" / "a.wav"));
}

}  // namespace
}  // namespace zavren
