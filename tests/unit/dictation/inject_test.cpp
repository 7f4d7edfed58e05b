#include <gtest/gtest.h>

#include "dictation/hints.h"
#include "harness.h"

namespace zavren {
namespace {

using testing::Harness;

class Inject : public ::testing::Test {
  protected:
    Harness h;
    std::map<std::string, std::string> atPaste;
    void SetUp() override {
        h.keys.onPaste = [this] { atPaste = h.pasteboard.contents; };
    }
};

TEST(InjectWithTrust, PastesThenRestoresThePreviousTextAfter400ms) {
    const std::map<std::string, std::string> pasted{{PASTEBOARD_STRING_TYPE, "你好"},
                                                    {PASTEBOARD_TRANSIENT_TYPE, ""}};
    struct Case {
        std::map<std::string, std::string> before, after;
    } cases[] = {
        {{{PASTEBOARD_STRING_TYPE, "原来的"}}, {{PASTEBOARD_STRING_TYPE, "原来的"}}},
        {{{"image/png", "PNG"}}, {}},  // only text comes back; nothing else is invented
    };
    for (const auto& c : cases) {
        Harness h;
        std::map<std::string, std::string> atPaste;
        h.keys.onPaste = [&] { atPaste = h.pasteboard.contents; };
        h.pasteboard.contents = c.before;
        h.ctl->inject("你好");
        EXPECT_EQ(h.keys.pastes, 1);
        EXPECT_EQ(atPaste, pasted);
        EXPECT_EQ(h.trust.queries, 1);
        EXPECT_EQ(h.trust.prompts, 0);
        h.dispatcher.advance(0.399);
        EXPECT_EQ(h.pasteboard.contents, pasted);
        h.dispatcher.advance(0.001);
        EXPECT_EQ(h.pasteboard.contents, c.after);
        EXPECT_EQ(h.st.hint(), std::nullopt);
    }
}

TEST_F(Inject, TwoQuickInjectionsLeaveTheFirstTextAfterBothRestores) {
    h.pasteboard.contents[PASTEBOARD_STRING_TYPE] = "原来的";
    h.ctl->inject("一");
    h.dispatcher.advance(0.2);
    h.ctl->inject("二");
    h.dispatcher.advance(1);
    EXPECT_EQ(h.pasteboard.text(), "一");
}

TEST_F(Inject, WithoutTrustLeavesTheTextAndAsksEveryTime) {
    h.trust.trusted = false;
    h.pasteboard.contents[PASTEBOARD_STRING_TYPE] = "原来的";
    h.ctl->inject("你好");
    EXPECT_EQ(h.keys.pastes, 0);
    const std::map<std::string, std::string> left{{PASTEBOARD_STRING_TYPE, "你好"},
                                                  {PASTEBOARD_TRANSIENT_TYPE, ""}};
    EXPECT_EQ(h.pasteboard.contents, left);
    EXPECT_EQ(h.st.hint(), std::string(HINT_PASTE_BY_HAND));
    EXPECT_EQ(h.trust.prompts, 1);
    h.dispatcher.advance(3.99);
    EXPECT_EQ(h.pasteboard.contents, left);  // no restore in this branch
    EXPECT_TRUE(h.st.hint().has_value());
    h.dispatcher.advance(0.01);
    EXPECT_EQ(h.st.hint(), std::nullopt);

    h.ctl->inject("再来");
    EXPECT_EQ(h.trust.prompts, 2);
}

// The paste-by-hand hint comes right before finish(); it has to stay readable.
TEST_F(Inject, WithoutTrustThePanelStaysUpForTheHintAfterTheDictation) {
    h.trust.trusted = false;
    h.dictate();
    h.answer(0, "<asr_text>你好");
    EXPECT_EQ(h.seen(), std::string("idle panel hint=") + HINT_PASTE_BY_HAND + " req=1 paste=0");
    h.dispatcher.advance(4.0);
    EXPECT_EQ(h.seen(), "idle hidden req=1 paste=0");
}

TEST_F(Inject, ThePendingRestoreIsHarmlessOnceTheControllerIsGone) {
    h.pasteboard.contents[PASTEBOARD_STRING_TYPE] = "原来的";
    h.ctl->inject("你好");
    h.ctl.reset();
    h.dispatcher.advance(1);
    EXPECT_EQ(h.pasteboard.text(), "你好");
}

TEST(Hints, EachHintClearsOnItsOwnTimerWhateverIsShowing) {
    Harness h;
    h.ctl->flashHint("一", 1.2);
    h.dispatcher.advance(1.0);
    h.ctl->flashHint("二", 1.2);
    EXPECT_EQ(h.st.hint(), std::string("二"));
    h.dispatcher.advance(0.2);
    EXPECT_EQ(h.st.hint(), std::nullopt);  // the first hint's timer took the second along
    EXPECT_FALSE(h.panel.visible);
}

TEST(Hints, AHintWhileIdleLeavesThePanelUpIfADictationStartedMeanwhile) {
    Harness h;
    h.st.setEngine(EngineState::starting);
    h.press();
    EXPECT_TRUE(h.panel.visible);
    h.st.setEngine(EngineState::ready);
    h.dispatcher.advance(0.5);
    h.press();
    EXPECT_EQ(h.st.hint(), std::nullopt);  // start() clears it
    h.dispatcher.advance(1.0);
    EXPECT_TRUE(h.panel.visible);
    EXPECT_TRUE(h.ctl->recording());
}

TEST(Hints, AHintWhileRecordingHidesThePreviewUntilItIsCleared) {
    Harness h;
    h.press();
    h.st.setPreview("预览");
    h.ctl->flashHint("提示", 1.2);
    EXPECT_FALSE(indicatorModel(h.st).showPreview);
    h.dispatcher.advance(1.2);
    EXPECT_TRUE(indicatorModel(h.st).showPreview);
    EXPECT_TRUE(h.panel.visible);
}

}  // namespace
}  // namespace zavren
