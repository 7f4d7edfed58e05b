#include "dictation/controller.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "dictation/hints.h"
#include "harness.h"
#include "shared/files.h"

namespace zavren {
namespace {

using testing::audioOf;
using testing::chatAnswer;
using testing::ok;

class Controller : public ::testing::Test {
  protected:
    testing::Harness h;
};

TEST_F(Controller, PressWithEngineReadyStartsRecording) {
    h.st.setHint(std::string("旧提示"));
    h.press();
    EXPECT_EQ(h.seen(), "listening recording panel req=0 paste=0");
    EXPECT_EQ(h.iconRefreshes, 1);
    ASSERT_NE(h.recorders.current(), nullptr);
    EXPECT_TRUE(h.recorders.current()->recording());
    EXPECT_TRUE(files::exists(h.wav()));
}

TEST_F(Controller, MeterTicksEvery60msAndKeepsSevenLevels) {
    h.recorders.powers = {-50, -25, 0, -160, 3};
    h.press();
    h.tick(4);
    EXPECT_EQ(h.recorders.meterReads, 4);
    const AppState::Levels want{0.12, 0.12, 0.12, 0.0, 0.5, 1.0, 0.0};
    EXPECT_EQ(h.st.levels(), want);
    h.tick(1);
    EXPECT_EQ(h.st.levels().back(), 1.0);
    h.release();
    h.tick(10);
    EXPECT_EQ(h.recorders.meterReads, 5);  // the timer died with the recording
}

struct NotReadyCase {
    EngineState engine;
    const char* hint;
};

class NotReady : public Controller, public ::testing::WithParamInterface<NotReadyCase> {};

TEST_P(NotReady, PressFlashesTheHintFor1200msAndRecordsNothing) {
    h.st.setEngine(GetParam().engine);
    h.press();
    h.release();  // ignored
    EXPECT_EQ(h.seen(), std::string("idle panel hint=") + GetParam().hint + " req=0 paste=0");
    EXPECT_EQ(h.recorders.created, 0);
    h.dispatcher.advance(1.19);
    EXPECT_TRUE(h.st.hint().has_value());
    h.dispatcher.advance(0.01);
    EXPECT_EQ(h.seen(), "idle hidden req=0 paste=0");
}

INSTANTIATE_TEST_SUITE_P(Engine, NotReady,
                         ::testing::Values(NotReadyCase{EngineState::starting, "引擎启动中…"},
                                           NotReadyCase{EngineState::failed, "引擎未启动"}));

TEST_F(Controller, PressWhileRecordingWithEngineNotReadyKeepsRecording) {
    h.press();
    h.st.setEngine(EngineState::failed);
    h.press();
    EXPECT_EQ(h.recorders.created, 1);
    EXPECT_EQ(h.seen(), std::string("listening recording panel hint=") + HINT_ENGINE_FAILED +
                            " req=0 paste=0");
    h.dispatcher.advance(1.2);
    EXPECT_EQ(h.seen(), "listening recording panel req=0 paste=0");
}

TEST_F(Controller, OtherKeysAndReleasesWhileIdleDoNothing) {
    h.ctl->onFlags(FlagsEvent{LEFT_OPTION_CODE, OPTION_FLAG});
    h.ctl->onFlags(FlagsEvent{LEFT_OPTION_CODE, 0});
    h.ctl->onFlags(FlagsEvent{55, OPTION_FLAG});
    h.release();
    EXPECT_EQ(h.seen(), "idle hidden req=0 paste=0");
    EXPECT_EQ(h.recorders.created, 0);
    EXPECT_EQ(h.panel.shows, 0);
    EXPECT_EQ(h.iconRefreshes, 0);
}

// Left Option held, right one released: the event still carries the Option bit.
TEST_F(Controller, ReleaseCarryingTheOptionBitRestartsTheDictation) {
    h.press();
    h.recorders.feedSamples(4000, 900);
    h.ctl->onFlags(FlagsEvent{HOTKEY_CODE, OPTION_FLAG});
    EXPECT_EQ(h.seen(), "listening recording panel req=0 paste=0");  // dropped, not sent
    EXPECT_EQ(h.recorders.created, 2);
    EXPECT_EQ(h.recorders.current()->dataBytes(), 0u);
    EXPECT_EQ(files::readNoFollow(h.wav())->size(), 44u);  // a fresh file
    h.release();
    EXPECT_EQ(h.http.count(), 1u);
}

TEST_F(Controller, ReleaseSendsTheWholeRecordingAndRemovesTheFile) {
    h.press();
    const std::string pcm = fakes::FakeAudioRecorderFactory::samples(16000, 1234);
    h.recorders.feed(pcm);
    h.release();
    EXPECT_EQ(h.seen(), "transcribing panel req=1 paste=0");
    EXPECT_EQ(h.iconRefreshes, 2);
    EXPECT_FALSE(files::exists(h.wav()));
    const HttpRequest& r = h.http.request(0);
    EXPECT_EQ(r.url, CHAT_URL);
    EXPECT_EQ(r.timeout, seconds(30));
    const std::string wav = audioOf(r);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(wav.substr(44), pcm);  // the patched header and every sample

    h.answerLast("language Chinese<asr_text>你好");
    EXPECT_EQ(h.pasteboard.text(), "你好");
    EXPECT_EQ(h.seen(), "idle hidden req=1 paste=1");
    EXPECT_EQ(h.iconRefreshes, 3);
}

TEST_F(Controller, PythonKindNeverPreviewsAndPostsTheRawFile) {
    h.kind = EngineKind::python;
    // Long speech with pauses: llama would cut both kinds of segment here.
    h.recorders.powerFn = [n = 0]() mutable { return n++ % 120 < 110 ? -20.0f : -60.0f; };
    h.press();
    h.recorders.feedSamples(60000, -77);
    h.tick(360);
    EXPECT_EQ(h.http.count(), 0u);
    h.recorders.current()->stop();  // let the test read the finished file
    const std::string onDisk = *files::readNoFollow(h.wav());
    h.release();
    ASSERT_EQ(h.http.count(), 1u);
    const HttpRequest& r = h.http.request(0);
    EXPECT_EQ(r.url, SERVER);
    EXPECT_TRUE(r.headers.empty());
    EXPECT_EQ(r.body, onDisk);
    EXPECT_EQ(r.timeout, seconds(30));
    h.http.complete(0, ok(R"({"text":" 原样 "})"));
    h.dispatcher.runUntilIdle();
    EXPECT_EQ(h.pasteboard.text(), " 原样 ");
    EXPECT_EQ(h.st.preview(), "");
}

TEST_F(Controller, RecorderCreationFailureEndsSilently) {
    h.recorders.failCreate = true;
    h.press();
    EXPECT_EQ(h.seen(), "listening recording panel req=0 paste=0");
    const auto levels = h.st.levels();
    h.tick(200);
    EXPECT_EQ(h.st.levels(), levels);  // bars do not move
    h.release();
    EXPECT_EQ(h.seen(), "idle hidden req=0 paste=0");
    EXPECT_TRUE(h.pasteboard.ops.empty());
}

TEST_F(Controller, ARecordingThatIsNotAWavFileIsNeverSent) {
    h.recorders.headerOverride = "ID3\x04garbage that is not a RIFF file";
    h.dictate();
    EXPECT_EQ(h.seen(), "idle hidden req=0 paste=0");
    EXPECT_FALSE(files::exists(h.wav()));
}

// Someone planted a symlink where the recording goes: nothing is written or read
// through it, and the link itself is cleared away.
TEST_F(Controller, TheRecordingIsNeverReadThroughASymlink) {
    const std::string secret = h.dir.path + "/secret";
    std::ofstream(secret) << "RIFF....WAVEsecret";
    ASSERT_EQ(::symlink(secret.c_str(), h.wav().c_str()), 0);
    h.dictate();
    EXPECT_EQ(h.seen(), "idle hidden req=0 paste=0");
    EXPECT_EQ(files::read(secret), "RIFF....WAVEsecret");
    std::error_code ec;
    EXPECT_FALSE(std::filesystem::is_symlink(h.wav(), ec));
}

TEST_F(Controller, CancelRemovesTheRecordingAndSendsNothing) {
    h.press();
    h.recorders.feedSamples(100, 1);
    ASSERT_TRUE(files::exists(h.wav()));
    h.ctl->cancel();
    EXPECT_FALSE(files::exists(h.wav()));
    EXPECT_EQ(h.seen(), "idle hidden req=0 paste=0");
}

struct FailureCase {
    const char* name;
    std::function<void(fakes::FakeHttpClient&)> answer;
};

class FinalFailure : public Controller, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FinalFailure, TypesNothingAndReturnsToIdle) {
    h.pasteboard.contents[PASTEBOARD_STRING_TYPE] = "用户的剪贴板";
    h.dictate();
    GetParam().answer(h.http);
    h.dispatcher.advance(31);
    EXPECT_EQ(h.seen(), "idle hidden req=1 paste=0");
    EXPECT_EQ(h.pasteboard.ops, std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FinalFailure,
    ::testing::Values(
        FailureCase{"cannot_connect",
                    [](auto& http) { http.fail(0, HttpError::Kind::cannotConnect); }},
        FailureCase{"no_answer_times_out", [](auto&) {}},
        FailureCase{
            "status500_with_a_chat_body",
            [](auto& http) { http.complete(0, ok(chatAnswer("<asr_text>内部错误"), 500)); }},
        FailureCase{"empty_transcription",
                    [](auto& http) { http.complete(0, ok(chatAnswer("<asr_text> \n"))); }},
        FailureCase{"answer_of_several_MB",
                    [](auto& http) {
                        http.complete(0, ok(chatAnswer("<asr_text>" + std::string(3 << 20, 'x'))));
                    }},
        FailureCase{"content_as_array",
                    [](auto& http) {
                        http.complete(
                            0, ok(R"({"choices":[{"message":{"content":[{"text":"x"}]}}]})"));
                    }},
        FailureCase{"truncated_json",
                    [](auto& http) { http.complete(0, ok(R"({"choices":[{"mess)")); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Controller, PressWhileTranscribingStartsAnewAndTheOldAnswerIsStillPasted) {
    h.dictate();
    h.press();
    EXPECT_EQ(h.seen(), "listening recording panel req=1 paste=0");
    h.answer(0, "<asr_text>第一句");
    EXPECT_EQ(h.pasteboard.text(), "第一句");
    EXPECT_EQ(h.seen(), "listening recording panel req=1 paste=1");  // the new one is untouched
    h.recorders.feedSamples(8000, 500);
    h.release();
    h.answerLast("<asr_text>第二句");
    EXPECT_EQ(h.seen(), "idle hidden req=2 paste=2");
}

// Once with one dictation transcribing and the next one recording.
TEST_F(Controller, SurvivesItsOwnerGoingAwayWithRequestsInFlight) {
    h.recorders.powerFn = [] { return -20.0f; };
    for (int i = 0; i < 2; ++i) {
        if (i == 1) h.release();
        h.press();
        h.recorders.feedSamples(40000, 3000);
        h.tick(101);  // continuous speech: a preview segment goes out
    }
    ASSERT_EQ(h.http.count(), 3u);  // preview, final, preview
    const int meterReads = h.recorders.meterReads;
    std::weak_ptr<DictationController> weak = h.ctl;
    h.ctl.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_FALSE(files::exists(h.wav()));
    for (std::size_t i = 0; i < h.http.count(); ++i)
        h.http.complete(i, ok(chatAnswer("<asr_text>迟到")));
    h.dispatcher.advance(60);
    EXPECT_EQ(h.recorders.meterReads, meterReads);  // the meter timer is gone too
    EXPECT_EQ(h.keys.pastes, 0);
    EXPECT_TRUE(h.pasteboard.ops.empty());
}

}  // namespace
}  // namespace zavren
