// Seeded random inputs through the normaliser: biased towards the characters the
// rules look at, mixed with clusters that stress segmentation and broken UTF-8.

#include <gtest/gtest.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "text/itn.h"
#include "text/itn_passes.h"

namespace zavren {
namespace {

// clang-format off
const std::vector<std::string_view> RULE_PIECES = {
    "零", "〇", "一", "幺", "二", "两", "三", "四", "五", "六", "七", "八", "九", "十", "百", "千",
    "万", "亿", "点", "分", "之", "月", "日", "号", "元", "块", "钱", "杠", "半", "年", "上午",
    "下午", "中午", "晚上", "凌晨", "早上", "傍晚", "深夜", "夜里", "半夜", "几", "多", "来", "也",
    "都", "儿", "米", "度", "折", "个"};

// None of these is a numeral, 点 or 杠, so no rule may change text made of them.
const std::vector<std::string_view> PLAIN_PIECES = {
    "A", "z", "Q", "0", "7", "9", ".", "%", "-", " ", ",", "#", "\t", "\n", "\r", "\r\n", "我",
    "的", "是", "天", "上", "午", "年", "月", "日", "分", "之", "元", "块", "钱", "半", "。", "，",
    "、", "「", "」", "\xCC\x81", "\xE2\x83\xA3", "\xF0\x9F\x98\x80",
    "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9",
    "\xE2\x80\xB0", "\xC3\xA9", "e\xCC\x81", "\xD9\xA3", "\xEF\xBC\x93"};

const std::vector<std::string_view> BROKEN_PIECES = {
    "\xFF", "\xE4\xB8", "\xC0\xAF", "\xED\xA0\x80", "\x80", "\xF4\x90\x80\x80"};
// clang-format on

bool validUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(s.data());
    const auto n = static_cast<std::int32_t>(s.size());
    for (std::int32_t i = 0; i < n;) {
        UChar32 c;
        U8_NEXT(p, i, n, c);
        if (c < 0) return false;
    }
    return true;
}

// Random pieces: with rules, mostly rule characters and now and then broken UTF-8;
// without, plain text only.
struct Generator {
    std::mt19937 rng;
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
    std::string text(bool rules) {
        std::string s;
        for (int k = below(24); k > 0; --k) {
            const int roll = rules ? below(100) : 60;
            const auto& v = roll < 55 ? RULE_PIECES : roll < 97 ? PLAIN_PIECES : BROKEN_PIECES;
            s += v[static_cast<std::size_t>(below(static_cast<int>(v.size())))];
        }
        return s;
    }
};

constexpr ITN::detail::Presence EVERY_PASS{true, true, true};

TEST(ItnRandom, HundredThousandInputsKeepTheInvariants) {
    Generator gen{std::mt19937(20240305)};
    int changed = 0;
    for (int round = 0; round < 100'000; ++round) {
        const std::string in = gen.text(true);
        const std::string out = ITN::apply(in);
        if (!validUtf8(in)) {
            ASSERT_EQ(out, in) << "round " << round;
            continue;
        }
        changed += out != in ? 1 : 0;
        ASSERT_TRUE(validUtf8(out)) << in;
        // No spaces or line breaks are added or removed.
        ASSERT_EQ(std::ranges::count(out, ' '), std::ranges::count(in, ' ')) << in;
        ASSERT_EQ(std::ranges::count(out, '\n'), std::ranges::count(in, '\n')) << in;
        // The shortcuts (no trigger, passes skipped) change nothing.
        ASSERT_TRUE(round % 4 != 0 || ITN::detail::runPasses(in, EVERY_PASS) == out) << in;
        // A line break separates: lines normalise independently.
        const auto cut = static_cast<std::size_t>(gen.below(static_cast<int>(in.size()) + 1));
        const std::string a = in.substr(0, cut), b = in.substr(cut);
        ASSERT_TRUE(round % 4 != 1 || !validUtf8(a) || !validUtf8(b) ||
                    ITN::apply(a + "\n" + b) == ITN::apply(a) + "\n" + ITN::apply(b))
            << in;
    }
    // The generator must reach the rules, or the invariants prove little.
    EXPECT_GT(changed, 8'000);
}

TEST(ItnRandom, TextWithoutRuleCharactersComesBackIdenticalThroughEveryPass) {
    Generator gen{std::mt19937(7)};
    for (int round = 0; round < 20'000; ++round) {
        const std::string in = gen.text(false);
        ASSERT_EQ(ITN::apply(in), in);
        ASSERT_EQ(ITN::detail::runPasses(in, EVERY_PASS), in);
    }
}

}  // namespace
}  // namespace zavren
