// Whole dictations against the real HTTP client and tools/fake-engine as a child
// process on the fixed engine port, with a recorder that writes a real WAV file.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>

#include "dictation/controller.h"
#include "engine_process.h"
#include "fakes/fake_ports.h"
#include "fakes/fake_recorder.h"
#include "posix/curl_http_client.h"
#include "posix/run_loop.h"
#include "shared/files.h"

namespace zavren {
namespace {

using nlohmann::json;
using testing::EngineProcess;

struct TempDir {
    std::string path;
    TempDir() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "zavren-idict-XXXXXX").string();
        path = ::mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

// Counts preview requests on the wire (they are the ones with the preview time-out).
class CountingHttp : public HttpClient {
  public:
    explicit CountingHttp(HttpClient& inner) : inner_(inner) {}
    std::atomic<int> previewsInFlight{0};
    std::atomic<int> maxPreviewsInFlight{0};

    std::shared_ptr<HttpTask> send(HttpRequest request,
                                   std::function<void(HttpResponse)> done) override {
        const bool preview = request.timeout == seconds(15);
        if (preview) {
            const int now = ++previewsInFlight;
            int seen = maxPreviewsInFlight;
            while (now > seen && !maxPreviewsInFlight.compare_exchange_weak(seen, now)) {
            }
        }
        return inner_.send(std::move(request), [this, preview, done](HttpResponse r) {
            if (preview) --previewsInFlight;
            done(std::move(r));
        });
    }
    std::shared_ptr<HttpTask> stream(HttpRequest request, HttpStreamHandlers handlers) override {
        return inner_.stream(std::move(request), std::move(handlers));
    }

  private:
    HttpClient& inner_;
};

constexpr float LOUD = -20.0f;
constexpr float QUIET = -60.0f;

// One dictation stack. Members are declared so the loop outlives the HTTP client
// (its destructor delivers the last completions) and the client the controller;
// the engine goes last, once no kept-alive connection holds it up.
struct Rig {
    TempDir dir;
    std::unique_ptr<EngineProcess> engine;
    RunLoopDispatcher loop;
    CurlHttpClient curl;
    CountingHttp http{curl};
    AppState st;
    fakes::FakeAudioRecorderFactory recorders;
    fakes::FakePasteboard pasteboard;
    fakes::FakeKeySynthesizer keys;
    fakes::FakeTrust trust;
    fakes::FakePanel panel;
    EngineKind kind;
    std::vector<std::optional<std::string>> pasted;  // the text at each paste keystroke
    std::shared_ptr<DictationController> ctl;

    explicit Rig(EngineKind k, Duration finalTimeout = seconds(30)) : kind(k) {
        st.setEngine(EngineState::ready);
        // 60 ms of audio per meter tick, as a live microphone would deliver.
        recorders.bytesPerMeter = 1920;
        recorders.sampleValue = 3000;
        recorders.idlePower = LOUD;
        keys.onPaste = [this] { pasted.push_back(pasteboard.text()); };
        ctl = DictationController::create(DictationController::Deps{
            .st = st,
            .dispatcher = loop,
            .http = http,
            .recorders = recorders,
            .pasteboard = pasteboard,
            .keys = keys,
            .trust = trust,
            .panel = panel,
            .wavPath = dir.path + "/zavren.wav",
            .termsFile = dir.path + "/terms.txt",
            .currentKind = [k] { return k; },
            .polish = [](std::string s) { return s; },
            .onRecordingChanged = {},
            .finalTimeout = finalTimeout,
        });
    }

    std::string wav() const { return dir.path + "/zavren.wav"; }

    void startEngine(const json& script, const std::string& terms = "") {
        engine = std::make_unique<EngineProcess>(kind, dir.path, script, terms);
        ASSERT_TRUE(engine->launched());
        ASSERT_TRUE(engine->waitHealthy(loop, curl, seconds(15)))
            << "fake-engine did not come up on port " << PORT;
    }

    void press() { ctl->onFlags(FlagsEvent{HOTKEY_CODE, OPTION_FLAG}); }
    void release() { ctl->onFlags(FlagsEvent{HOTKEY_CODE, 0}); }

    void dictate(Duration length) {
        press();
        loop.runFor(length);
        release();
    }

    bool waitIdle(Duration timeout) {
        return loop.runUntil([&] { return st.state() == RecState::idle; }, timeout);
    }
};

std::optional<std::string> header(const json& request, const std::string& name) {
    for (auto& [k, v] : request["headers"].items()) {
        std::string lk = k, ln = name;
        std::transform(lk.begin(), lk.end(), lk.begin(), ::tolower);
        std::transform(ln.begin(), ln.end(), ln.begin(), ::tolower);
        if (lk == ln) return v.get<std::string>();
    }
    return std::nullopt;
}

TEST(DictationWithEngine, LlamaPreviewsPausesOneAtATimeThenPastesTheWholeRecording) {
    Rig rig(EngineKind::llama);
    std::ofstream(rig.dir.path + "/terms.txt") << "术语A,术语B\n";
    // 15 loud ticks then 12 quiet ones: a pause cut about every 1.6 s.
    int tick = 0;
    rig.recorders.powerFn = [&tick] { return (tick++ % 27) < 15 ? LOUD : QUIET; };
    rig.startEngine({{"echo", "duration"}, {"delay_ms", 150}});

    std::vector<std::string> previews;
    auto sub = rig.st.subscribe([&](AppState::Field f) {
        if (f == AppState::Field::preview && rig.st.state() == RecState::listening &&
            !rig.st.preview().empty())
            previews.push_back(rig.st.preview());
    });

    rig.press();
    ASSERT_TRUE(rig.loop.runUntil([&] { return previews.size() >= 3; }, seconds(20)))
        << "previews so far: " << previews.size();
    ASSERT_TRUE(files::exists(rig.wav()));
    rig.release();
    EXPECT_FALSE(files::exists(rig.wav()));
    ASSERT_TRUE(rig.waitIdle(seconds(20)));

    // Each answer extends the preview by one more segment's duration.
    for (std::size_t i = 1; i < previews.size(); ++i)
        EXPECT_EQ(previews[i].rfind(previews[i - 1] + " ", 0), 0u) << previews[i];
    EXPECT_EQ(rig.http.maxPreviewsInFlight, 1);

    const auto requests = rig.engine->transcriptions();
    ASSERT_GE(requests.size(), 4u);
    double previewSeconds = 0;
    for (std::size_t i = 0; i + 1 < requests.size(); ++i) {
        const auto& r = requests[i];
        EXPECT_EQ(r["path"], "/v1/chat/completions");
        EXPECT_EQ(r["prompt"], "请转写这段语音。可能出现的术语:术语A 术语B");
        EXPECT_TRUE(r["base64_ok"].get<bool>());
        // A pause-cut segment: longer than the minimum, shorter than the 6 s cap.
        const double s = r["wav_seconds"].get<double>();
        EXPECT_GT(s, 0.4);
        EXPECT_LT(s, 6.1);
        previewSeconds += s;
    }
    const auto& final = requests.back();
    EXPECT_EQ(final["path"], "/v1/chat/completions");
    EXPECT_EQ(header(final, "Content-Type"), "application/json");
    EXPECT_TRUE(final["json_ok"].get<bool>());
    EXPECT_EQ(final["temperature"], 0);
    EXPECT_EQ(final["audio_format"], "wav");
    EXPECT_TRUE(final["base64_ok"].get<bool>());
    const double total = final["wav_seconds"].get<double>();
    EXPECT_NEAR(total, rig.recorders.meterReads * 0.06, 0.001);
    EXPECT_GE(total, previewSeconds);

    ASSERT_EQ(rig.keys.pastes, 1);
    ASSERT_TRUE(rig.pasted[0].has_value());
    char expected[32];
    std::snprintf(expected, sizeof expected, "%.2f", total);
    EXPECT_EQ(*rig.pasted[0], expected);
    EXPECT_EQ(rig.st.preview(), "");
}

TEST(DictationWithEngine, PythonPostsTheRawFileAndPastesTheText) {
    Rig rig(EngineKind::python);
    rig.recorders.powerFn = [n = 0]() mutable { return (n++ % 20) < 10 ? LOUD : QUIET; };
    rig.startEngine({{"answer", "你好世界"}});
    rig.dictate(seconds(1.5));
    EXPECT_FALSE(files::exists(rig.wav()));
    ASSERT_TRUE(rig.waitIdle(seconds(20)));

    ASSERT_EQ(rig.keys.pastes, 1);
    EXPECT_EQ(rig.pasted[0], "你好世界");
    EXPECT_EQ(rig.pasteboard.contents.count(PASTEBOARD_TRANSIENT_TYPE), 1u);
    const auto requests = rig.engine->transcriptions();
    ASSERT_EQ(requests.size(), 1u);  // no previews for this flavour
    EXPECT_EQ(requests[0]["path"], "/");
    EXPECT_EQ(header(requests[0], "Content-Type"), std::nullopt);
    EXPECT_EQ(requests[0]["body_size"], 44 + rig.recorders.meterReads * 1920);
    EXPECT_EQ(rig.st.preview(), "");
}

TEST(DictationWithEngine, TheRecordingFileNeverOutlivesCancel) {
    Rig rig(EngineKind::llama);
    rig.startEngine({{"answer", "好"}});
    rig.press();
    rig.loop.runFor(seconds(0.3));
    ASSERT_TRUE(files::exists(rig.wav()));
    rig.ctl->cancel();
    EXPECT_FALSE(files::exists(rig.wav()));

    // Pressed again while recording: the first take is dropped and a new one begins.
    rig.press();
    rig.loop.runFor(seconds(0.3));
    rig.press();
    rig.loop.runFor(seconds(0.3));
    rig.release();
    EXPECT_FALSE(files::exists(rig.wav()));
    ASSERT_TRUE(rig.waitIdle(seconds(20)));
    EXPECT_EQ(rig.engine->transcriptions().size(), 1u);
    EXPECT_EQ(rig.keys.pastes, 1);
}

// A slow answer that keeps sending bytes is not an idle connection.
TEST(DictationWithEngine, ATrickledAnswerOutlastingTheTimeoutIsStillPasted) {
    Rig rig(EngineKind::llama, seconds(1));
    rig.startEngine({{"trickle_ms", 12}});  // about 2 s for the whole body
    rig.dictate(seconds(0.5));
    ASSERT_TRUE(rig.waitIdle(seconds(20)));
    ASSERT_EQ(rig.keys.pastes, 1);
    EXPECT_EQ(rig.pasted[0], "你好");
}

struct BadCase {
    const char* name;
    EngineKind kind;
    std::optional<json> script;  // none: no engine at all
    std::string header;          // replaces the WAV header when set
    Duration finalTimeout = seconds(30);
};

class BadAnswer : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadAnswer, TypesNothingAndReturnsToIdle) {
    const BadCase& c = GetParam();
    Rig rig(c.kind, c.finalTimeout);
    rig.recorders.headerOverride = c.header;
    rig.pasteboard.contents[PASTEBOARD_STRING_TYPE] = "用户的剪贴板";
    if (c.script) rig.startEngine(*c.script);

    rig.dictate(seconds(0.5));
    EXPECT_FALSE(files::exists(rig.wav()));
    // Well before any answer the engine was told to delay would come.
    ASSERT_TRUE(rig.waitIdle(seconds(3.5)));
    rig.loop.runFor(seconds(0.2));
    EXPECT_EQ(rig.keys.pastes, 0);
    EXPECT_TRUE(rig.pasteboard.ops.empty());
    EXPECT_EQ(rig.pasteboard.text(), "用户的剪贴板");
    EXPECT_FALSE(rig.panel.visible);
    if (c.script) {
        if (!c.header.empty()) {
            EXPECT_EQ(rig.engine->transcriptions().size(), 0u);
        }
        EXPECT_TRUE(rig.engine->running());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Engine, BadAnswer,
    ::testing::Values(
        BadCase{"engine_down", EngineKind::llama, std::nullopt, ""},
        BadCase{"idle_timeout", EngineKind::llama, json{{"delay_ms", 6000}}, "", seconds(1)},
        BadCase{"status_500", EngineKind::llama, json{{"status", 500}}, ""},
        BadCase{"status_500_python", EngineKind::python, json{{"status", 500}}, ""},
        BadCase{"truncated_json", EngineKind::llama, json{{"malformed", true}}, ""},
        BadCase{"content_array", EngineKind::llama, json{{"content_array", true}}, ""},
        BadCase{"text_array_python", EngineKind::python, json{{"content_array", true}}, ""},
        BadCase{"several_MB", EngineKind::llama, json{{"huge_mb", 4}}, ""},
        BadCase{"wav_not_riff", EngineKind::llama, json::object(), "ID3\x04not a wave file"},
        BadCase{"wav_not_riff_python", EngineKind::python, json::object(), "OggS not a wave"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zavren
