// Seeded random inputs through the normaliser: biased towards the characters the
// rules look at, mixed with clusters that stress segmentation and broken UTF-8.

#include <gtest/gtest.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "text/itn.h"
#include "text/itn_passes.h"

namespace zavren {
namespace {

const std::vector<std::string_view> RULE_PIECES = {
    "零",   "〇",   "一",   "幺",   "二",   "两",   "三",   "四",   "五",   "六",
    "七",   "八",   "九",   "十",   "百",   "千",   "万",   "亿",   "点",   "分",
    "之",   "月",   "日",   "号",   "元",   "块",   "钱",   "杠",   "半",   "年",
    "上午", "下午", "中午", "晚上", "凌晨", "早上", "傍晚", "深夜", "夜里", "半夜",
    "几",   "多",   "来",   "也",   "都",   "儿",   "米",   "度",   "折",   "个"};

// None of these is a numeral, 点 or 杠, so no rule may change text made of them.
const std::vector<std::string_view> PLAIN_PIECES = {"A",
                                                    "z",
                                                    "Q",
                                                    "0",
                                                    "7",
                                                    "9",
                                                    ".",
                                                    "%",
                                                    "-",
                                                    " ",
                                                    ",",
                                                    "#",
                                                    "\t",
                                                    "\n",
                                                    "\r",
                                                    "\r\n",
                                                    "我",
                                                    "的",
                                                    "是",
                                                    "天",
                                                    "上",
                                                    "午",
                                                    "年",
                                                    "月",
                                                    "日",
                                                    "分",
                                                    "之",
                                                    "元",
                                                    "块",
                                                    "钱",
                                                    "半",
                                                    "。",
                                                    "，",
                                                    "、",
                                                    "「",
                                                    "」",
                                                    "\xCC\x81",
                                                    "\xE2\x83\xA3",
                                                    "\xF0\x9F\x98\x80",
                                                    "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD",
                                                    "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9",
                                                    "\xE2\x80\xB0",
                                                    "\xC3\xA9",
                                                    "e\xCC\x81",
                                                    "\xD9\xA3",
                                                    "\xEF\xBC\x93"};

const std::vector<std::string_view> BROKEN_PIECES = {
    "\xFF", "\xE4\xB8", "\xC0\xAF", "\xED\xA0\x80", "\x80", "\xF4\x90\x80\x80"};

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

class Generator {
  public:
    explicit Generator(std::uint32_t seed) : rng_(seed) {}

    std::string mixed() {
        std::string s;
        const int len = below(24);
        for (int k = 0; k < len; ++k) {
            const int roll = below(100);
            if (roll < 55) {
                s += pick(RULE_PIECES);
            } else if (roll < 97) {
                s += pick(PLAIN_PIECES);
            } else {
                s += pick(BROKEN_PIECES);
            }
        }
        return s;
    }

    std::string plain() {
        std::string s;
        const int len = below(24);
        for (int k = 0; k < len; ++k) s += pick(PLAIN_PIECES);
        return s;
    }

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  private:
    std::string_view pick(const std::vector<std::string_view>& v) {
        return v[static_cast<std::size_t>(below(static_cast<int>(v.size())))];
    }
    std::mt19937 rng_;
};

std::size_t count(std::string_view s, char c) {
    return static_cast<std::size_t>(std::count(s.begin(), s.end(), c));
}

constexpr ITN::detail::Presence EVERY_PASS{true, true, true};

TEST(ItnRandom, HundredThousandInputsKeepTheInvariants) {
    Generator gen(20240305);
    int changed = 0;
    for (int round = 0; round < 100'000; ++round) {
        const std::string in = gen.mixed();
        const std::string out = ITN::apply(in);
        if (!validUtf8(in)) {
            ASSERT_EQ(out, in) << "round " << round;
            continue;
        }
        changed += out != in ? 1 : 0;
        ASSERT_TRUE(validUtf8(out)) << in;
        // No spaces or line breaks are added or removed.
        ASSERT_EQ(count(out, ' '), count(in, ' ')) << in;
        ASSERT_EQ(count(out, '\n'), count(in, '\n')) << in;
        // The shortcuts (no trigger, passes skipped) change nothing.
        if (round % 4 == 0) {
            ASSERT_EQ(ITN::detail::runPasses(in, EVERY_PASS), out) << in;
        }
        // A line break separates: lines normalise independently.
        if (round % 4 == 1) {
            const auto cut = static_cast<std::size_t>(gen.below(static_cast<int>(in.size()) + 1));
            std::string a = in.substr(0, cut), b = in.substr(cut);
            if (validUtf8(a) && validUtf8(b)) {
                ASSERT_EQ(ITN::apply(a + "\n" + b), ITN::apply(a) + "\n" + ITN::apply(b)) << in;
            }
        }
    }
    // The generator must reach the rules, or the invariants prove little.
    EXPECT_GT(changed, 8'000);
}

TEST(ItnRandom, TextWithoutRuleCharactersComesBackIdentical) {
    Generator gen(7);
    for (int round = 0; round < 20'000; ++round) {
        const std::string in = gen.plain();
        ASSERT_EQ(ITN::apply(in), in);
        // Through every pass too, not only the shortcut.
        ASSERT_EQ(ITN::detail::runPasses(in, EVERY_PASS), in);
    }
}

TEST(ItnRandom, ConcurrentCallsAgreeWithSequentialOnes) {
    Generator gen(99);
    std::vector<std::string> inputs, expected;
    for (int k = 0; k < 2'000; ++k) inputs.push_back(gen.mixed());
    for (const auto& in : inputs) expected.push_back(ITN::apply(in));

    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < mismatches.size(); ++t) {
        threads.emplace_back([&, t] {
            for (std::size_t k = 0; k < inputs.size(); ++k) {
                const std::size_t idx = (k + t * 500) % inputs.size();
                if (ITN::apply(inputs[idx]) != expected[idx]) ++mismatches[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int m : mismatches) EXPECT_EQ(m, 0);
}

}  // namespace
}  // namespace zavren
