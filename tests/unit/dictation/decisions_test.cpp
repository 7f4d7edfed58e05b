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

// Steps each power and returns the 1-based tick of every cut, restarting after a cut
// as the controller does.
std::vector<int> cutsFor(const std::vector<float>& powers) {
    Segmenter s;
    std::vector<int> cuts;
    for (std::size_t i = 0; i < powers.size(); ++i) {
        if (s.step(powers[i])) {
            cuts.push_back(static_cast<int>(i) + 1);
            s.restart();
        }
    }
    return cuts;
}

std::vector<float> repeat(float p, int n) {
    return std::vector<float>(static_cast<std::size_t>(n), p);
}

std::vector<float> operator+(std::vector<float> a, const std::vector<float>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Segmenter, CutsAfterTenQuietTicksOrAHundredLoudOnes) {
    // Thresholds are strict: -35 and -42 themselves are in the middle band.
    const auto middle = repeat(-20, 1) + repeat(-60, 5) + repeat(-35, 3) + repeat(-42, 3) +
                        repeat(-38, 20) + repeat(-60, 4);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        std::vector<float> powers;
        std::vector<int> cuts;
    } cases[] = {
        {"tenthQuietTick", repeat(-20, 3) + repeat(-60, 10), {13}},
        {"loudTickRestartsTheCount",
         repeat(-20, 1) + repeat(-60, 9) + repeat(-20, 1) + repeat(-60, 9),
         {}},
        {"middleBandNeitherCountsNorResets", middle, {}},
        {"middleBandThenTheTenthQuiet",
         middle + repeat(-60, 1),
         {static_cast<int>(middle.size()) + 1}},
        {"justAcrossTheThresholds", repeat(-34.9f, 1) + repeat(-42.1f, 10), {11}},
        // The first loud tick is tick 0 of the segment: earlier quiet ticks do not count.
        {"lengthFromTheFirstLoudTick", repeat(-60, 30) + repeat(-20, 303), {131, 232, 333}},
        {"hundredAndOneLoudTicks", repeat(-20, 101), {101}},
        {"nanPowers", repeat(nan, 200), {}},
    };
    for (const auto& c : cases) EXPECT_EQ(cutsFor(c.powers), c.cuts) << c.name;
}

AppState stateWith(RecState s, std::optional<std::string> hint, std::string preview) {
    AppState st;
    st.setState(s);
    st.setHint(std::move(hint));
    st.setPreview(std::move(preview));
    return st;
}

TEST(IndicatorModel, FollowsTheStateTable) {
    using Row = IndicatorModel::Row;
    struct Case {
        RecState state;
        std::optional<std::string> hint;
        std::string preview;
        Row row;
        std::string text;
        bool showPreview;
    } cases[] = {
        {RecState::listening, "引擎启动中…", "你好", Row::hint, "引擎启动中…", false},
        {RecState::transcribing, "h", "", Row::hint, "h", false},
        {RecState::transcribing, std::nullopt, "你好", Row::transcribing, "转写中", false},
        {RecState::listening, std::nullopt, "你好", Row::bars, "正在听", true},
        {RecState::idle, std::nullopt, "你好", Row::bars, "正在听", false},
    };
    for (const auto& c : cases) {
        const IndicatorModel m = indicatorModel(stateWith(c.state, c.hint, c.preview));
        EXPECT_EQ(m.row, c.row) << c.text;
        EXPECT_EQ(m.text, c.text);
        EXPECT_EQ(m.showPreview, c.showPreview) << c.text;
        EXPECT_EQ(m.preview, c.showPreview ? c.preview : "");
    }
}

}  // namespace
}  // namespace zavren
