// Whole dictations against the real HTTP client and tools/fake-engine as a child
// process on the engine port, with a recorder that writes a real WAV file.
#include <gtest/gtest.h>

#include "dictation/controller.h"
#include "engine_process.h"
#include "fakes/fake_ports.h"
#include "fakes/fake_recorder.h"
#include "posix/curl_http_client.h"
#include "shared/files.h"
#include "support/temp_dir.h"

namespace zavren {
namespace {

// The loop outlives the HTTP client (its destructor delivers the last completions)
// and the client the controller; the engine goes last.
struct Rig {
    test::TempDir dir;
    testing::EngineProcess engine;
    RunLoopDispatcher loop;
    CurlHttpClient http;
    AppState st;
    fakes::FakeAudioRecorderFactory recorders;
    fakes::FakePaster paster;
    fakes::FakePanel panel;
    std::shared_ptr<DictationController> ctl;

    Rig(EngineKind kind, const nlohmann::json& script) : engine(kind, dir.path, script) {
        st.setEngine(EngineState::ready);
        recorders.bytesPerMeter = 1920;  // 60 ms of audio per meter tick, as live
        // 15 loud ticks then 12 quiet ones: a pause cut about every 1.6 s.
        recorders.powerFn = [n = 0]() mutable { return n++ % 27 < 15 ? -20.0f : -60.0f; };
        ctl = DictationController::create({st, loop, http, recorders, paster, panel,
                                           dir / "zavren.wav", dir / "terms.txt",
                                           [kind] { return kind; }, nullptr, nullptr});
        EXPECT_TRUE(engine.waitHealthy(loop, http, seconds(15))) << "no fake-engine on " << PORT;
    }
    void dictate(Duration length) {
        ctl->onFlags(FlagsEvent{HOTKEY_CODE, OPTION_FLAG});
        loop.runFor(length);
        ctl->onFlags(FlagsEvent{HOTKEY_CODE, 0});
        EXPECT_TRUE(loop.runUntil([&] { return st.state() == RecState::idle; }, seconds(20)));
    }
};

TEST(DictationWithEngine, LlamaPreviewsEachPauseThenPastesTheWholeRecording) {
    Rig rig(EngineKind::llama, nlohmann::json{{"echo", "duration"}});
    rig.dictate(seconds(5));
    EXPECT_FALSE(files::exists(rig.dir / "zavren.wav"));
    const auto requests = rig.engine.requests();
    ASSERT_GE(requests.size(), 3u);  // previews, then the final one
    const double total = requests.back()["wav_seconds"].get<double>();
    EXPECT_NEAR(total, rig.recorders.meterReads * 0.06, 0.001);
    char expected[32];
    std::snprintf(expected, sizeof expected, "%.2f", total);
    EXPECT_EQ(rig.paster.pasted, std::vector<std::string>{expected});
}

// The plain flavour's raw WAV body and answer through the real client.
TEST(DictationWithEngine, PlainPastesTheAnswer) {
    Rig rig(EngineKind::python, nlohmann::json{{"answer", "你好"}});
    rig.dictate(seconds(0.5));
    EXPECT_EQ(rig.paster.pasted, std::vector<std::string>{"你好"});
}

}  // namespace
}  // namespace zavren
