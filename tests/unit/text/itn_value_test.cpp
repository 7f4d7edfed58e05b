#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "fakes/fake_ports.h"
#include "text/itn.h"

namespace zavren {
namespace {

TEST(ItnParseValue, ValuesOfSpokenNumerals) {
    const struct {
        const char* text;
        std::int64_t value;
    } cases[] = {
        {"十", 10},
        {"二十三", 23},
        {"两千零二十四", 2024},
        {"一万零五十", 10050},
        {"二十五万", 250000},
        {"一亿五", 150000000},
        {"零", 0},
        {"一百零", 100},
        {"三千五", 3500},
        {"一万五", 15000},
        {"一百一", 110},
        {"一百零五", 105},
        {"十五", 15},
        {"万", 10000},
        {"〇", 0},
        {"幺", 1},
        {"零五", 5},
        {"零零", 0},
        {"一亿零一万", 100010000},
        {"九千九百九十九亿", 999900000000},
        {"三百五万", 3050000},  // the digit before 万 joins the group as ones
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ITN::parseValue(c.text), std::optional<std::int64_t>(c.value)) << c.text;
    }
}

TEST(ItnParseValue, RefusesMalformedOrTooLarge) {
    for (const char* text : {
             "",
             "一二",    // two digits in a row
             "一百十",  // small units must fall
             "十百",
             "一万万",  // big units must fall
             "一万亿",
             "零十",  // a bare unit after a zero
             "一百零十",
             "五零",        // a zero after a pending digit
             "一A",         // not a numeral
             "一\xCC\x81",  // combining mark: not the character 一
             "\xff",        // not UTF-8
             "一万零亿",    // big units must fall
             "亿万",
         }) {
        EXPECT_EQ(ITN::parseValue(text), std::nullopt) << text;
    }
}

TEST(ItnParseValue, SixteenCharacterLimit) {
    // Sixteen characters parse; a seventeenth refuses even a well-formed numeral.
    EXPECT_EQ(ITN::parseValue("零零零零零零零零零零零零零零零五"), 5);
    EXPECT_EQ(ITN::parseValue("零零零零零零零零零零零零零零零零五"), std::nullopt);
    EXPECT_EQ(ITN::parseValue("亿九千九百九十九万九千九百九十九"), 199999999);
    EXPECT_EQ(ITN::parseValue("一亿九千九百九十九万九千九百九十九"), std::nullopt);
}

TEST(ItnParseValue, LargestValuesFitBelowTheCap) {
    // Falling units keep every total of 16 characters below 10^12.
    EXPECT_EQ(ITN::parseValue("一千亿"), 100000000000);
    EXPECT_EQ(ITN::parseValue("九千九百九十九亿九千九百九十九万"), 999999990000);
    EXPECT_EQ(ITN::parseValue("九千九百九十九亿九千九百九十九万九"), std::nullopt);  // 17
}

TEST(ItnNumeralChar, ExactlyTheEighteen) {
    for (const char* c : {"零", "〇", "一", "幺", "二", "两", "三", "四", "五", "六", "七", "八",
                          "九", "十", "百", "千", "万", "亿"})
        EXPECT_TRUE(ITN::isNumeralChar(c)) << c;
    for (const char* c : {"", "点", "壹", "1", "一二", "一\xCC\x81", "\xe4\xb8", "拾"})
        EXPECT_FALSE(ITN::isNumeralChar(c)) << c;
}

TEST(ItnSwitch, AbsentOrNotBoolMeansOn) {
    fakes::FakeDefaults defaults;
    EXPECT_EQ(ITN::enabledKey, "zavren.itn.enabled");
    EXPECT_TRUE(ITN::enabled(defaults));
    defaults.values[ITN::enabledKey] = std::string("false");
    EXPECT_TRUE(ITN::enabled(defaults));
    defaults.values[ITN::enabledKey] = 0;
    EXPECT_TRUE(ITN::enabled(defaults));
    defaults.values[ITN::enabledKey] = false;
    EXPECT_FALSE(ITN::enabled(defaults));
}

TEST(ItnSwitch, ToggleStoresTheOppositeOfTheEffectiveValue) {
    fakes::FakeDefaults defaults;
    ITN::toggle(defaults);
    ASSERT_TRUE(std::holds_alternative<bool>(defaults.values.at(ITN::enabledKey)));
    EXPECT_FALSE(std::get<bool>(defaults.values.at(ITN::enabledKey)));
    EXPECT_FALSE(ITN::enabled(defaults));
    ITN::toggle(defaults);
    EXPECT_TRUE(std::get<bool>(defaults.values.at(ITN::enabledKey)));

    // A stray string counts as on, so toggling writes false.
    defaults.values[ITN::enabledKey] = std::string("yes");
    ITN::toggle(defaults);
    EXPECT_FALSE(std::get<bool>(defaults.values.at(ITN::enabledKey)));
}

TEST(ItnSwitch, TranscriptsFollowTheSwitchAtTheMomentTheyPass) {
    fakes::FakeDefaults defaults;
    EXPECT_EQ(ITN::applyIfEnabled(defaults, "十五块钱"), "15块钱");
    ITN::toggle(defaults);
    EXPECT_EQ(ITN::applyIfEnabled(defaults, "十五块钱"), "十五块钱");
}

}  // namespace
}  // namespace zavren
