// The PulseAudio recorder and microphone check against the private sound server of
// the test desktop, whose default source is a virtual microphone we feed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "pulse/pulse_microphone.h"
#include "pulse/pulse_recorder.h"
#include "system/harness/desktop_env.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

double rmsDb(const std::int16_t* s, std::size_t n) {
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) sum += static_cast<double>(s[i]) * s[i];
    return n == 0 || sum == 0 ? -160
                              : 10 * std::log10(sum / static_cast<double>(n) / (32768.0 * 32768.0));
}

// Record streams the server has right now, -1 when it cannot be asked.
int recordStreams(PulseConnection& conn) {
    PulseConnection::Lock lock(conn);
    const auto deadline = PulseConnection::Clock::now() + 2s;
    pa_context* ctx = conn.readyContext(deadline);
    if (!ctx) return -1;
    int count = 0;
    auto op = pa_context_get_source_output_info_list(
        ctx,
        [](pa_context*, const pa_source_output_info* info, int eol, void* ud) {
            if (eol == 0 && info) ++*static_cast<int*>(ud);
        },
        &count);
    return conn.waitFor(op, deadline) ? count : -1;
}

class PulseSystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(desktop::available()) << "needs the test desktop (run through ctest)";
        ASSERT_TRUE(desktop::micSilence());
        char tmpl[] = "/tmp/zavren-stest-pulse-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        wav = dir / "zavren.wav";
    }
    void TearDown() override {
        desktop::micSilence();
        fs::remove_all(dir);
    }

    std::uintmax_t size() const {
        std::error_code ec;
        auto n = fs::file_size(wav, ec);
        return ec ? 0 : n;
    }

    fs::path dir, wav;
};

TEST_F(PulseSystemTest, RecordsA16kMonoWavWhosePowerTracksTheMicrophone) {
    PulseRecorderFactory factory;
    auto rec = factory.create(wav);
    ASSERT_TRUE(rec);
    rec->updateMeters();
    EXPECT_EQ(rec->averagePower(), -160.0f);
    ASSERT_TRUE(rec->record());

    const std::uintmax_t quarterSecond = 8000;
    ASSERT_TRUE(waitUntil([&] { return size() >= 44 + quarterSecond; })) << "no audio arrives";
    rec->updateMeters();
    EXPECT_EQ(rec->averagePower(), -160.0f);

    // A -12 dBFS sine has an RMS of -15 dBFS.
    ASSERT_TRUE(desktop::micTone(440, -12));
    ASSERT_TRUE(waitUntil([&] {
        rec->updateMeters();
        return rec->averagePower() > -20;
    })) << "the meter did not follow the tone: "
        << rec->averagePower();
    const auto toneSeen = size();
    // Once a whole window holds the tone, the meter reads its level.
    ASSERT_TRUE(waitUntil([&] { return size() >= toneSeen + 2 * 960 + 640; }));
    rec->updateMeters();
    EXPECT_NEAR(rec->averagePower(), -15.05, 0.3);
    ASSERT_TRUE(waitUntil([&] { return size() >= toneSeen + quarterSecond; }));

    ASSERT_TRUE(desktop::micSilence());
    ASSERT_TRUE(waitUntil([&] {
        rec->updateMeters();
        return rec->averagePower() == -160.0f;
    })) << "the meter did not fall back: "
        << rec->averagePower();
    rec->stop();

    std::ifstream in(wav, std::ios::binary);
    std::string b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(b.size(), 44u);
    auto u32 = [&](size_t at) {
        std::uint32_t v;
        std::memcpy(&v, b.data() + at, 4);
        return v;
    };
    auto u16 = [&](size_t at) {
        std::uint16_t v;
        std::memcpy(&v, b.data() + at, 2);
        return v;
    };
    EXPECT_EQ(b.substr(0, 4), "RIFF");
    EXPECT_EQ(u32(4), b.size() - 8);
    EXPECT_EQ(u16(20), 1);
    EXPECT_EQ(u16(22), 1);
    EXPECT_EQ(u32(24), 16000u);
    EXPECT_EQ(u16(34), 16);
    EXPECT_EQ(u32(40), b.size() - 44);
    ASSERT_EQ(b.size() % 2, 0u);

    std::vector<std::int16_t> s((b.size() - 44) / 2);
    std::memcpy(s.data(), b.data() + 44, s.size() * 2);
    // Silence first, then the tone, then silence: check the power of each stretch.
    const auto firstLoud = std::find_if(s.begin(), s.end(), [](auto v) { return v != 0; });
    ASSERT_NE(firstLoud, s.end());
    const auto lead = static_cast<std::size_t>(firstLoud - s.begin());
    EXPECT_GE(lead, 4000u);
    const auto lastLoud = std::find_if(s.rbegin(), s.rend(), [](auto v) { return v != 0; });
    const auto tail = static_cast<std::size_t>(lastLoud - s.rbegin());
    EXPECT_GE(tail, 960u);
    const std::size_t toneLen = s.size() - lead - tail;
    EXPECT_GE(toneLen, 4000u);
    EXPECT_NEAR(rmsDb(s.data() + lead, toneLen), -15.05, 0.3);
}

TEST_F(PulseSystemTest, StopLeavesAClosedCompleteFileAndTheRecorderDoesNotRestart) {
    PulseRecorderFactory factory;
    auto rec = factory.create(wav);
    ASSERT_TRUE(rec);
    ASSERT_TRUE(rec->record());
    ASSERT_TRUE(waitUntil([&] { return size() > 44 + 3200; }));
    rec->stop();
    const auto stopped = size();
    std::this_thread::sleep_for(100ms);  // nothing may be written after stop()
    EXPECT_EQ(size(), stopped);
    EXPECT_FALSE(rec->record());
    rec.reset();
    EXPECT_EQ(size(), stopped);
    EXPECT_EQ((fs::status(wav).permissions() & fs::perms::all),
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(PulseSystemTest, StopFinishesTheFileWithoutWaitingForTheLoopThreadThenTheStreamGoes) {
    PulseConnection probe("ZAVREN probe");
    const int before = recordStreams(probe);
    ASSERT_GE(before, 0);

    auto conn = std::make_shared<PulseConnection>();
    PulseRecorderFactory factory(conn);
    auto rec = factory.create(wav);
    ASSERT_TRUE(rec);
    ASSERT_TRUE(rec->record());
    ASSERT_TRUE(waitUntil([&] { return size() > 44 + 3200; }));
    EXPECT_EQ(recordStreams(probe), before + 1);

    // The loop thread is held up, as by a descheduled callback, when the key is released.
    std::atomic<bool> held{false}, released{false};
    bool heldUntilTimeout = false;
    std::thread blocker([&] {
        PulseConnection::Lock lock(*conn);
        held = true;
        // Only a stop() that waits for the loop keeps us here until the deadline.
        heldUntilTimeout = !waitUntil([&] { return released.load(); }, 5s);
    });
    ASSERT_TRUE(waitUntil([&] { return held.load(); }));
    rec->stop();
    const auto stopped = size();
    std::ifstream in(wav, std::ios::binary);
    std::string b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    rec.reset();
    released = true;
    blocker.join();
    EXPECT_FALSE(heldUntilTimeout) << "stop() waited for the sound server thread";

    ASSERT_EQ(b.size(), stopped);
    ASSERT_GT(b.size(), 44u + 3200u);
    std::uint32_t riff = 0, data = 0;
    std::memcpy(&riff, b.data() + 4, 4);
    std::memcpy(&data, b.data() + 40, 4);
    EXPECT_EQ(riff, b.size() - 8);
    EXPECT_EQ(data, b.size() - 44);

    // Audio the loop thread held back while blocked never reaches the closed file,
    // and the stream is torn down once the loop runs again.
    EXPECT_TRUE(waitUntil([&] { return recordStreams(probe) == before; }))
        << "the record stream outlived the recorder";
    EXPECT_EQ(size(), stopped);
}

TEST_F(PulseSystemTest, ASymlinkAtTheRecordingPathIsNeverFollowed) {
    const auto target = dir / "precious";
    { std::ofstream(target) << "keep me"; }
    fs::create_symlink(target, wav);
    PulseRecorderFactory factory;
    EXPECT_FALSE(factory.create(wav));
    std::ifstream in(target);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "keep me");
}

TEST_F(PulseSystemTest, WithoutAServerRecordFailsAndLeavesNoFile) {
    auto nowhere = std::make_shared<PulseConnection>("ZAVREN", "unix:" + (dir / "none").string());
    PulseRecorderFactory factory(nowhere);
    auto rec = factory.create(wav);
    ASSERT_TRUE(rec);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(rec->record());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
    EXPECT_FALSE(fs::exists(wav));
    rec->stop();
    EXPECT_FALSE(fs::exists(wav));

    PulseMicrophone mic(nowhere);
    EXPECT_FALSE(mic.authorized());
}

// Puts the default source back whatever the test does.
struct DefaultSource {
    explicit DefaultSource(const std::string& name) { set(name); }
    ~DefaultSource() { set("vmic"); }
    static bool set(const std::string& name) {
        return std::system(("pactl set-default-source " + name).c_str()) == 0;
    }
};

TEST_F(PulseSystemTest, MicrophoneIsAvailableOnlyWithACaptureSourceAsDefault) {
    PulseMicrophone mic;
    EXPECT_TRUE(mic.authorized());
    {
        DefaultSource monitorOnly("vsink.monitor");
        EXPECT_FALSE(mic.authorized());
        int answers = 0;
        mic.request([&](bool granted) {
            ++answers;
            EXPECT_FALSE(granted);
        });
        EXPECT_EQ(answers, 1);
    }
    bool granted = false;
    mic.request([&](bool g) { granted = g; });
    EXPECT_TRUE(granted);
}

}  // namespace
}  // namespace zavren
