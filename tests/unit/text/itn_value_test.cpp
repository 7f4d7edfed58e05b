#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "fakes/fake_ports.h"
#include "text/itn.h"

namespace zavren {
namespace {

TEST(ItnParseValue, ValuesOfSpokenNumerals) {
    // clang-format off
    const std::pair<const char*, std::int64_t> rows[] = {
        {"十", 10}, {"二十三", 23}, {"两千零二十四", 2024}, {"一万零五十", 10050},
        {"二十五万", 250000}, {"一亿五", 150000000}, {"零", 0}, {"一百零", 100}, {"三千五", 3500},
        {"一万五", 15000}, {"一百一", 110}, {"一百零五", 105}, {"万", 10000}, {"〇", 0}, {"幺", 1},
        {"零五", 5}, {"零零", 0}, {"一亿零一万", 100010000}, {"九千九百九十九亿", 999900000000},
        {"三百五万", 3050000},  // the digit before 万 joins the group as ones
        // sixteen characters at most, and always below the cap
        {"零零零零零零零零零零零零零零零五", 5}, {"亿九千九百九十九万九千九百九十九", 199999999},
        {"九千九百九十九亿九千九百九十九万", 999999990000}};
    // clang-format on
    for (const auto& [text, value] : rows)
        EXPECT_EQ(ITN::parseValue(text), std::optional<std::int64_t>(value)) << text;
}

TEST(ItnParseValue, RefusesMalformedOrTooLarge) {
    // Two digits in a row, units that do not fall, a bare unit or a digit after a zero,
    // no numeral, a combining mark, broken UTF-8; past sixteen characters or the cap.
    for (const char* text :
         {"", "一二", "一百十", "十百", "一万万", "一万亿", "零十", "一百零十", "五零", "一A",
          "一\xCC\x81", "\xff", "一万零亿", "亿万", "零零零零零零零零零零零零零零零零五",
          "九千九百九十九亿九千九百九十九万九"})
        EXPECT_EQ(ITN::parseValue(text), std::nullopt) << text;
}

TEST(ItnNumeralChar, ExactlyTheEighteen) {
    for (const char* c : {"零", "〇", "一", "幺", "二", "两", "三", "四", "五", "六", "七", "八",
                          "九", "十", "百", "千", "万", "亿"})
        EXPECT_TRUE(ITN::isNumeralChar(c)) << c;
    for (const char* c : {"", "点", "壹", "1", "一二", "一\xCC\x81", "\xe4\xb8", "拾"})
        EXPECT_FALSE(ITN::isNumeralChar(c)) << c;
}

TEST(ItnSwitch, OnUnlessStoredFalseAndTheToggleFlipsTheEffectiveValue) {
    fakes::FakeDefaults defaults;
    defaults.values[ITN::enabledKey] = std::string("false");
    EXPECT_EQ(ITN::applyIfEnabled(defaults, "十五块钱"), "15块钱") << "not a Boolean: on";
    ITN::toggle(defaults);
    EXPECT_EQ(ITN::applyIfEnabled(defaults, "十五块钱"), "十五块钱");
}

}  // namespace
}  // namespace zavren
