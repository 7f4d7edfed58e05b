#include "dictation/controller.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>

#include <fstream>

#include "dictation/hints.h"
#include "harness.h"
#include "shared/files.h"

namespace zavren {
namespace {

using test::samplesOf;
using Recorders = fakes::FakeAudioRecorderFactory;

std::string hinted(const char* hint, const std::string& rest) {
    return std::string("idle panel hint=") + hint + " " + rest;
}

class Controller : public ::testing::Test {
  protected:
    test::Harness h;
};

TEST_F(Controller, RecordsWhileHeldThenSendsTheWholeRecordingAndPastesTheAnswer) {
    h.recorders.powerFn = [p = -75.0f]() mutable { return p += 25; };  // -50, -25, 0
    h.press();
    EXPECT_EQ(h.seen(), "listening panel req=0 paste=0");
    h.recorders.feedSamples(16000, 1234);
    h.tick(3);
    EXPECT_EQ(h.st.levels()[5], 0.5);
    h.release();
    EXPECT_EQ(h.seen(), "transcribing panel req=1 paste=0");
    EXPECT_FALSE(files::exists(h.wav()));
    EXPECT_EQ(samplesOf(h.http.request(0)), Recorders::samples(16000, 1234));
    h.tick(10);
    EXPECT_EQ(h.recorders.meterReads, 3);  // the meter died with the recording
    h.st.setPreview("你");
    h.polish = [](std::string s) { return s + "。"; };
    h.answer(0, "<asr_text>你好");
    EXPECT_EQ(h.st.preview(), "");
    EXPECT_EQ(h.paster.pasted, std::vector<std::string>{"你好。"});
    EXPECT_EQ(h.seen(), "idle hidden req=1 paste=1");
}

TEST_F(Controller, PressWithoutAReadyEngineOnlyFlashesAHint) {
    for (auto [engine, hint] : {std::pair{EngineState::starting, HINT_ENGINE_STARTING},
                                std::pair{EngineState::failed, HINT_ENGINE_FAILED},
                                std::pair{EngineState::notInstalled, HINT_NOT_INSTALLED}}) {
        h.st.setEngine(engine);
        h.press();
        h.release();
        EXPECT_EQ(h.seen(), hinted(hint, "req=0 paste=0"));
        h.dispatcher.advance(ENGINE_HINT_SECONDS);
        EXPECT_EQ(h.seen(), "idle hidden req=0 paste=0");
    }
    EXPECT_EQ(h.recorders.created, 0);
    EXPECT_EQ(h.installerShown, 1) << "only without an engine does the first-run window come up";
}

// Left Alt held, right one released reads as a press. A hint meanwhile never
// hides the recording's panel.
TEST_F(Controller, APressWhileRecordingStartsAFreshTake) {
    h.press();
    h.recorders.feedSamples(4000, 900);
    h.ctl->flashHint("提示", 1.0);
    h.press();
    EXPECT_EQ(files::readNoFollow(h.wav())->size(), 44u);
    h.dispatcher.advance(1.0);
    EXPECT_EQ(h.seen(), "listening panel req=0 paste=0");
}

// A cancel drops the recording; once it is on its way, the answer still lands.
TEST_F(Controller, CancelDropsOnlyARecordingStillBeingMade) {
    h.ctl->onHotkey(HotkeyEvent::cancel);
    EXPECT_EQ(h.seen(), "idle hidden req=0 paste=0");
    h.press();
    h.recorders.feedSamples(4000, 900);
    h.ctl->onHotkey(HotkeyEvent::cancel);
    EXPECT_EQ(h.seen(), "idle hidden req=0 paste=0");
    EXPECT_FALSE(files::exists(h.wav()));
    h.release();
    h.dictate();
    h.ctl->onHotkey(HotkeyEvent::cancel);
    EXPECT_EQ(h.seen(), "transcribing panel req=1 paste=0");
    h.answer(0, "你好");
    EXPECT_EQ(h.seen(), "idle hidden req=1 paste=1");
}

TEST_F(Controller, ThePlainEngineNeverPreviewsAndGetsTheRawFile) {
    h.kind = EngineKind::python;
    h.recorders.powerFn = [n = 0]() mutable { return n++ % 120 < 110 ? -20.0f : -60.0f; };
    h.press();
    h.recorders.feedSamples(60000, -77);
    h.tick(360);
    h.recorders.current()->stop();
    const std::string onDisk = *files::readNoFollow(h.wav());
    h.release();
    ASSERT_EQ(h.http.count(), 1u);
    EXPECT_EQ(h.http.request(0).body, onDisk);
}

// Someone planted a symlink where the recording goes: nothing is read through it.
TEST_F(Controller, NeitherAForeignFileNorASymlinkIsEverSent) {
    const std::string secret = h.dir / "secret";
    std::ofstream(secret) << "RIFF....WAVEsecret";
    ASSERT_EQ(::symlink(secret.c_str(), h.wav().c_str()), 0);
    h.dictate();
    h.recorders.headerOverride = "ID3\x04 not a RIFF file";
    h.dictate();
    EXPECT_EQ(h.seen(), "idle hidden req=0 paste=0");
    EXPECT_FALSE(files::exists(h.wav()));
}

TEST(ControllerAnswer, AFailureSaysSoAndKeepsTheAudioForARetry) {
    struct Case {
        const char* name;
        std::function<void(test::Harness&)> answer;
        const char* hint;  // none: not a failure
        std::string logged;
    } cases[] = {
        {"silent", [](auto& h) { h.dispatcher.advance(FINAL_TIMEOUT); }, HINT_NO_ANSWER,
         "失败(识别失败:引擎无应答):录音 16044 字节(0.50 秒),识别 30.00 秒"},
        {"status500", [](auto& h) { h.answer(0, "<asr_text>内部错误", 500); }, HINT_ENGINE_ERROR,
         "失败(识别失败:引擎出错)"},
        {"emptyText", [](auto& h) { h.answer(0, "<asr_text> "); }, nullptr, "没有识别出文字"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::Harness h;
        h.dictate();
        c.answer(h);
        h.dispatcher.runUntilIdle();
        EXPECT_EQ(h.seen(), c.hint ? hinted(c.hint, "req=1 paste=0") : "idle hidden req=1 paste=0");
        EXPECT_EQ(h.ctl->canRetry(), c.hint != nullptr);
        ASSERT_EQ(h.log.lines.size(), 1u);
        EXPECT_EQ(h.log.lines[0].rfind(LOG_PREFIX + "听写" + c.logged, 0), 0u) << h.log.lines[0];
        if (!c.hint) continue;
        // A retry clears the hint, or brings the panel back once the hint has gone.
        if (c.hint == HINT_ENGINE_ERROR) h.dispatcher.advance(FAILURE_HINT_SECONDS);
        h.ctl->retryLast();
        EXPECT_EQ(h.seen(), "transcribing panel req=2 paste=0");
        ASSERT_EQ(h.http.count(), 2u);
        EXPECT_EQ(samplesOf(h.http.request(1)), Recorders::samples(8000, 500));
        h.dispatcher.advance(0.25);
        h.answer(1, "重来");
        EXPECT_EQ(h.paster.pasted, std::vector<std::string>{"重来"});
        EXPECT_EQ(h.log.lines.back(), LOG_PREFIX +
                                          "听写已粘贴:录音 16044 字节(0.50 秒),识别 0.25 "
                                          "秒,粘贴 0.00 秒,2 字");
        EXPECT_FALSE(h.ctl->canRetry());
    }
}

// Another user's listener on the port gets neither a preview piece nor the take.
TEST_F(Controller, KeptAudioIsDroppedAtTheNextTakeAndAfterTwoMinutes) {
    h.ours = false;
    h.recorders.powerFn = [] { return -20.0f; };
    h.press();
    h.recorders.feedSamples(40000, 3000);
    h.tick(101);  // continuous speech: a preview piece would go out
    h.release();
    EXPECT_EQ(h.seen(), hinted(HINT_NO_ANSWER, "req=0 paste=0"));
    h.st.setEngine(EngineState::failed);
    EXPECT_FALSE(h.ctl->canRetry());
    h.st.setEngine(EngineState::ready);
    h.dispatcher.advance(DictationController::RETRY_KEEP - 1);
    EXPECT_TRUE(h.ctl->canRetry());
    h.dispatcher.advance(1);
    EXPECT_FALSE(h.ctl->canRetry());

    h.dictate();
    EXPECT_TRUE(h.ctl->canRetry());
    h.press();
    h.ctl->onHotkey(HotkeyEvent::cancel);
    EXPECT_FALSE(std::filesystem::exists(h.wav()));
    EXPECT_FALSE(h.ctl->canRetry());
    EXPECT_EQ(h.seen(), "idle hidden req=0 paste=0");
}

// No sound server: said at once, or as soon as the recorder finds out.
TEST(ControllerMicrophone, AMicrophoneThatCannotOpenEndsTheDictationWithAHint) {
    for (int after : {0, 2}) {
        test::Harness h;
        h.recorders.failAfterMeters = after;
        h.press();
        h.tick(3);
        EXPECT_EQ(h.seen(), hinted(HINT_NO_MICROPHONE, "req=0 paste=0"));
        h.release();
        EXPECT_EQ(h.seen(), hinted(HINT_NO_MICROPHONE, "req=0 paste=0"));
        EXPECT_EQ(h.recorders.meterReads, after);
        EXPECT_EQ(h.log.lines,
                  std::vector<std::string>{LOG_PREFIX + "听写失败(无法打开麦克风):录音 0 字节"});
        EXPECT_FALSE(std::filesystem::exists(h.wav()));
    }
}

TEST_F(Controller, APasteLeftForTheUserKeepsItsHintUpAfterTheDictation) {
    h.paster.outcome = Paster::Outcome::leftOnClipboard;
    h.dictate();
    h.answer(0, "<asr_text>你好");
    EXPECT_EQ(h.seen(), hinted(HINT_PASTE_BY_HAND.c_str(), "req=1 paste=1"));
    EXPECT_NE(h.log.lines.at(0).find("听写留在剪贴板上"), std::string::npos);
    h.dispatcher.advance(PASTE_HINT_SECONDS);
    EXPECT_EQ(h.seen(), "idle hidden req=1 paste=1");
}

TEST_F(Controller, SurvivesItsOwnerGoingAwayWithRequestsInFlight) {
    h.recorders.powerFn = [] { return -20.0f; };
    h.press();
    h.recorders.feedSamples(40000, 3000);
    h.tick(101);
    h.release();
    EXPECT_TRUE(h.http.call(0).cancelled);  // a preview piece ends with its take
    h.press();
    h.tick(1);
    ASSERT_EQ(h.http.count(), 2u);  // a preview piece and the final
    std::weak_ptr<DictationController> weak = h.ctl;
    h.ctl.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_FALSE(files::exists(h.wav()));
    for (std::size_t i = 0; i < 2; ++i) h.http.complete(i, test::ok(test::chatAnswer("迟")));
    const int meterReads = h.recorders.meterReads;
    h.dispatcher.advance(60);
    EXPECT_EQ(h.recorders.meterReads, meterReads);
    EXPECT_TRUE(h.paster.pasted.empty());
}

}  // namespace
}  // namespace zavren
