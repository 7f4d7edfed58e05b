#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "pulse/power_meter.h"
#include "pulse/pulse_connection.h"
#include "pulse/wav_writer.h"
#include "shared/files.h"
#include "support/temp_dir.h"

namespace zavren {
namespace {

float levelOf(std::vector<std::int16_t> samples, PowerMeter m = {}) {
    m.add(samples.data(), samples.size());
    return m.averagePower();
}

TEST(PowerMeter, RmsInDbfsOverTheLatestWindowAndSilenceForNone) {
    EXPECT_EQ(PowerMeter().averagePower(), PowerMeter::SILENCE_DB);
    EXPECT_EQ(levelOf(std::vector<std::int16_t>(2000, 0)), PowerMeter::SILENCE_DB);
    EXPECT_NEAR(levelOf(std::vector<std::int16_t>(100, -32768)), 0.0, 0.01);  // partial window
    EXPECT_NEAR(levelOf(std::vector<std::int16_t>(3000, 3277)), -20.0, 0.01);
    PowerMeter loudThenQuiet;
    std::vector<std::int16_t> loud(5000, 32767);
    loudThenQuiet.add(loud.data(), loud.size());
    EXPECT_GT(levelOf(std::vector<std::int16_t>(PowerMeter::WINDOW - 1, 0), loudThenQuiet), -60);
    EXPECT_EQ(levelOf(std::vector<std::int16_t>(PowerMeter::WINDOW, 0), loudThenQuiet),
              PowerMeter::SILENCE_DB);
}

TEST(WavWriter, HeaderFirstSizesPatchedAtFinishAndOnlyIntoAPrivateRegularFile) {
    test::TempDir dir;
    auto w = WavWriter::create(dir / "a.wav");
    ASSERT_TRUE(w);
    EXPECT_EQ(files::read(dir / "a.wav")->size(), 44u);  // readers see the header at once
    const unsigned char bytes[] = {1, 2, 3, 4, 5, 6};
    w->append(bytes, 1);
    w->append(bytes + 1, 5);
    ASSERT_TRUE(w->finish());
    const std::string b = *files::read(dir / "a.wav");
    std::uint32_t riff = 0, data = 0;
    std::memcpy(&riff, b.data() + 4, 4);
    std::memcpy(&data, b.data() + 40, 4);
    EXPECT_EQ(std::pair(riff, data), std::pair(42u, 6u));
    EXPECT_EQ(b.substr(0, 4) + b.substr(8, 4) + b.substr(36, 4), "RIFFWAVEdata");
    EXPECT_EQ(b.substr(44), std::string(bytes, bytes + 6));

    // An old file is truncated and made private; links, FIFOs and missing folders refused.
    files::writeAtomic(dir / "old.wav", std::string(1000, 'x'));
    ::chmod((dir / "old.wav").c_str(), 0644);
    ASSERT_TRUE(WavWriter::create(dir / "old.wav"));
    struct stat st {};
    ::stat((dir / "old.wav").c_str(), &st);
    EXPECT_EQ(st.st_size, 44);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    files::writeAtomic(dir / "precious", "keep");
    ::symlink((dir / "precious").c_str(), (dir / "link.wav").c_str());
    ::mkfifo((dir / "fifo.wav").c_str(), 0600);
    for (const char* name : {"link.wav", "fifo.wav", "none/a.wav"})
        EXPECT_FALSE(WavWriter::create(dir / name)) << name;
    EXPECT_EQ(files::read(dir / "precious"), "keep");
}

TEST(PulseConnection, PostNeverWaitsForTheLoopAndRunsEveryTaskInOrder) {
    std::vector<int> order;
    {
        PulseConnection conn;
        PulseConnection::Lock lock(conn);  // the loop cannot run tasks meanwhile
        for (int i = 0; i < 3; ++i) conn.post([&order, i] { order.push_back(i); });
        EXPECT_TRUE(order.empty());
    }
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));  // run by the loop or at shutdown
}

}  // namespace
}  // namespace zavren
