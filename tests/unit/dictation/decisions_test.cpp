// The pure per-event decisions: hotkey, meter level, pause segmentation, indicator.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dictation/hotkey.h"
#include "dictation/indicator_model.h"
#include "dictation/level.h"
#include "dictation/segmenter.h"

namespace zavren {
namespace {

TEST(Hotkey, OnlyTheRightAltCountsAndTheAltBitDecides) {
    EXPECT_EQ(classifyFlags({HOTKEY_CODE, OPTION_FLAG}), HotkeyAction::press);
    EXPECT_EQ(classifyFlags({HOTKEY_CODE, 0x20000 | 0x100000}), HotkeyAction::release);
    EXPECT_EQ(classifyFlags({LEFT_OPTION_CODE, OPTION_FLAG}), HotkeyAction::ignore);
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
