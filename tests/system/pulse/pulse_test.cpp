// The recorder and the microphone check against the test desktop's private sound
// server, whose default source is a virtual microphone we feed.
#include <gtest/gtest.h>

#include <cstring>

#include "pulse/pulse_microphone.h"
#include "pulse/pulse_recorder.h"
#include "shared/files.h"
#include "support/temp_dir.h"
#include "support/wait_for.h"
#include "desktop/desktop_env.h"

namespace zavren {
namespace {

TEST(PulseSystem, RecordsA16kMonoWavWhoseMeterFollowsTheMicrophone) {
    ASSERT_TRUE(desktop::available() && desktop::micSilence()) << "run through ctest";
    test::TempDir dir;
    const std::string wav = dir / "zavren.wav";
    PulseRecorderFactory factory;
    auto rec = factory.create(wav);
    ASSERT_TRUE(rec && rec->record());
    ASSERT_TRUE(desktop::micTone(440, -12));  // a -12 dBFS sine: -15 dBFS RMS
    EXPECT_TRUE(test::waitFor([&] {
        rec->updateMeters();
        const std::size_t got = files::read(wav).value_or("").size();
        return got > 44 + 8000 && std::abs(rec->averagePower() + 15.05) < 0.3;
    })) << rec->averagePower();
    desktop::micSilence();
    EXPECT_FALSE(rec->failed());
    rec->stop();
    const std::string b = files::read(wav).value_or("");
    ASSERT_GT(b.size(), 44u + 3200u);
    std::uint32_t rate = 0, data = 0;
    std::memcpy(&rate, b.data() + 24, 4);
    std::memcpy(&data, b.data() + 40, 4);
    EXPECT_EQ(std::pair(rate, data), std::pair(16000u, std::uint32_t(b.size() - 44)));
    EXPECT_FALSE(rec->record());  // one-shot
}

TEST(PulseSystem, WithoutAServerThePressStillReturnsThenTellsAndLeavesNoFileAndNoMicrophone) {
    test::TempDir dir;
    auto nowhere = std::make_shared<PulseConnection>("ZAVREN", "unix:" + (dir / "none"));
    PulseRecorderFactory factory(nowhere);
    auto rec = factory.create(dir / "zavren.wav");
    ASSERT_TRUE(rec && rec->record());  // connecting goes on elsewhere
    EXPECT_TRUE(test::waitFor([&] { return rec->failed(); })) << "the failure was never told";
    rec->stop();
    EXPECT_FALSE(files::read(dir / "zavren.wav"));
    EXPECT_FALSE(PulseMicrophone::query(*nowhere));
}

TEST(PulseSystem, MicrophoneIsAvailableOnlyWithACaptureSourceAsDefault) {
    ASSERT_TRUE(desktop::available());
    PulseConnection conn;
    EXPECT_TRUE(PulseMicrophone::query(conn));
    ASSERT_EQ(std::system("pactl set-default-source vsink.monitor"), 0);
    EXPECT_FALSE(PulseMicrophone::query(conn));
    ASSERT_EQ(std::system("pactl set-default-source vmic"), 0);
}

}  // namespace
}  // namespace zavren
