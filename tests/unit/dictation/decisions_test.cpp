// The pure per-event decisions: hotkey, meter level, pause segmentation, indicator.
#include <gtest/gtest.h>
#include <linux/input.h>

#include <cmath>
#include <limits>
#include <vector>

#include "dictation/hotkey.h"
#include "dictation/indicator_model.h"
#include "dictation/level.h"
#include "dictation/segmenter.h"

namespace zavren {
namespace {

// Presses and releases of right Alt, left Alt and right Ctrl; SW chooses right Ctrl.
constexpr std::pair RP{HotkeyKey::rightAlt, true}, RR{HotkeyKey::rightAlt, false},
    LP{HotkeyKey::leftAlt, true}, LR{HotkeyKey::leftAlt, false}, CP{HotkeyKey::rightCtrl, true},
    CR{HotkeyKey::rightCtrl, false}, SW{HotkeyKey::f16, true};

TEST(HotkeyTracker, TheChosenKeyOnceAndLeftAltOnlyBesideRightAlt) {
    using enum HotkeyEvent;
    using Events = std::vector<HotkeyEvent>;
    const struct {
        const char* name;
        HotkeyKey chosen;
        std::vector<std::pair<HotkeyKey, bool>> keys;
        Events want;
    } cases[] = {
        {"right", HotkeyKey::rightAlt, {RP, RR}, {press, release}},
        {"leftAloneIsNoHotkey", HotkeyKey::rightAlt, {LP, LR}, {}},
        {"leftChosen", HotkeyKey::leftAlt, {LP, RP, RR, LR}, {press, release}},
        // A repeated press must not restart the dictation.
        {"repeatsAndAReleaseNeverSeenDown",
         HotkeyKey::rightAlt,
         {RP, RP, RR, RR, LR},
         {press, release}},
        {"leftLetGoFirst", HotkeyKey::rightAlt, {LP, RP, LR, RR}, {press, release}},
        {"leftStillHeld", HotkeyKey::rightAlt, {LP, RP, RR, LR}, {press, press}},
        {"rightCtrlOthersIgnored",
         HotkeyKey::rightCtrl,
         {RP, LP, RR, CP, CP, LR, CR},
         {press, release}},
        // The key held when the choice changes still ends its dictation, and the
        // new one starts the next only then; a left Alt let go after the change
        // no longer turns a release into a press.
        {"switchWhileHeld",
         HotkeyKey::rightAlt,
         {LP, RP, SW, LR, CP, RR, CP, RP},
         {press, release, press}},
    };
    for (const auto& c : cases) {
        HotkeyTracker tracker;
        tracker.choose(c.chosen);
        Events got;
        for (auto [key, press] : c.keys) {
            if (key == SW.first) tracker.choose(HotkeyKey::rightCtrl);
            if (auto ev = tracker.onKey(key, press)) got.push_back(*ev);
        }
        EXPECT_EQ(got, c.want) << c.name;
    }
}

TEST(HotkeyTracker, EachKeyByItsKernelCode) {
    const int kernel[] = {KEY_RIGHTALT, KEY_LEFTALT, KEY_RIGHTCTRL, KEY_RIGHTMETA,
                          KEY_F13,      KEY_F14,     KEY_F15,       KEY_F16};
    for (std::size_t i = 0; i < HOTKEY_KEYS.size(); ++i) {
        EXPECT_EQ(evdevCode(HOTKEY_KEYS[i]), kernel[i]) << storedName(HOTKEY_KEYS[i]);
        EXPECT_EQ(hotkeyForEvdevCode(kernel[i]), HOTKEY_KEYS[i]);
    }
    EXPECT_EQ(hotkeyForEvdevCode(KEY_A), std::nullopt);
}

TEST(Level, MapsMinus50To0DecibelsOntoTheUnitRange) {
    const float inf = std::numeric_limits<float>::infinity();
    const std::pair<float, double> cases[] = {
        {-50.0f, 0.0}, {-160.0f, 0.0},       {0.0f, 1.0}, {6.0f, 1.0},
        {-25.0f, 0.5}, {std::nanf(""), 0.0}, {-inf, 0.0}, {inf, 1.0},
    };
    for (auto [db, want] : cases) EXPECT_DOUBLE_EQ(levelFor(db), want) << db;
}

// Runs of (power, ticks).
using Powers = std::vector<std::pair<float, int>>;

// The 1-based tick of every cut, restarting after a cut as the controller does.
std::vector<int> cutsFor(const Powers& runs) {
    Segmenter s;
    std::vector<int> cuts;
    int tick = 0;
    for (auto [power, n] : runs)
        for (int i = 0; i < n; ++i)
            if (++tick, s.step(power)) {
                cuts.push_back(tick);
                s.restart();
            }
    return cuts;
}

TEST(Segmenter, CutsAfterTenQuietTicksOrAHundredLoudOnes) {
    // Thresholds are strict: -35 and -42 themselves are in the middle band.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        Powers powers;
        std::vector<int> cuts;
    } cases[] = {
        {"tenthQuietTick", {{-20, 3}, {-60, 10}}, {13}},
        {"loudTickRestartsTheCount", {{-20, 1}, {-60, 9}, {-20, 1}, {-60, 9}}, {}},
        {"middleBandNeitherCountsNorResets",
         {{-20, 1}, {-60, 5}, {-35, 3}, {-42, 3}, {-38, 20}, {-60, 5}},
         {37}},
        {"justAcrossTheThresholds", {{-34.9f, 1}, {-42.1f, 10}}, {11}},
        // The first loud tick is tick 0 of the segment: earlier quiet ticks do not count.
        {"lengthFromTheFirstLoudTick", {{-60, 30}, {-20, 303}}, {131, 232, 333}},
        {"nanPowers", {{nan, 200}}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(cutsFor(c.powers), c.cuts) << c.name;
}

TEST(IndicatorModel, AHintWinsThenTranscribingThenTheBarsWithThePreviewWhileListening) {
    using Row = IndicatorModel::Row;
    struct Case {
        RecState state;
        std::optional<std::string> hint;
        Row row;
        std::string text;
        bool showPreview;
    } cases[] = {
        {RecState::listening, "h", Row::hint, "h", false},
        {RecState::transcribing, "h", Row::hint, "h", false},
        {RecState::transcribing, std::nullopt, Row::transcribing, TRANSCRIBING_TEXT, false},
        {RecState::listening, std::nullopt, Row::bars, LISTENING_TEXT, true},
        {RecState::idle, std::nullopt, Row::bars, LISTENING_TEXT, false},
    };
    for (const auto& c : cases) {
        AppState st;
        st.setState(c.state);
        st.setHint(c.hint);
        st.setPreview("你好");
        st.pushLevel(0.5);
        const IndicatorModel m = indicatorModel(st);
        EXPECT_EQ(m.row, c.row) << c.text;
        EXPECT_EQ(m.text, c.text);
        EXPECT_EQ(m.preview, c.showPreview ? "你好" : "") << c.text;
        EXPECT_EQ(m.showPreview, c.showPreview) << c.text;
        EXPECT_EQ(m.barHeights.back(), IndicatorModel::BAR_ROW_HEIGHT / 2);
        EXPECT_EQ(m.barHeights.front(), IndicatorModel::MIN_BAR_HEIGHT);
    }
}

}  // namespace
}  // namespace zavren
