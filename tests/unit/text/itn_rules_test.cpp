#include <gtest/gtest.h>

#include <string>

#include "text/itn.h"

namespace zavren {
namespace {

struct Case {
    const char* input;
    const char* expected;  // nullptr: unchanged
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.input;
}

class ItnRule : public testing::TestWithParam<Case> {};

TEST_P(ItnRule, Normalises) {
    const Case& c = GetParam();
    const std::string expected = c.expected != nullptr ? c.expected : c.input;
    EXPECT_EQ(ITN::apply(c.input), expected) << "input: " << c.input;
}

// The documented examples; they are the arbiter of the rules.
INSTANTIATE_TEST_SUITE_P(
    DocumentedExamples, ItnRule,
    testing::Values(
        // decimals
        Case{"三点五米", "3.5米"}, Case{"三点五个", nullptr}, Case{"三点五六个", "3.56个"},
        Case{"零点五", "0.5"}, Case{"一共三百二十点五", "一共320.5"}, Case{"版本二点零", "版本2.0"},
        // digit strings
        Case{"电话幺三八零零一三八零零零", "电话13800138000"}, Case{"一九八四年", "1984年"},
        Case{"一二", nullptr}, Case{"二三个", nullptr}, Case{"一个", nullptr},
        Case{"第一", nullptr},
        // after Latin letters
        Case{"ABC十五", "ABC15"},
        // dates
        Case{"二零二四年三月五日", "2024年3月5日"}, Case{"二零二四年三月", "2024年3月"},
        Case{"二零二四年三月五", "2024年3月5"}, Case{"三月", nullptr}, Case{"三月五号", "3月5号"},
        Case{"十二月三十二日", nullptr},
        // percentages
        Case{"百分之五十", "50%"}, Case{"百分之三点五", "3.5%"}, Case{"千分之五", "5‰"},
        Case{"百分之十几", nullptr},
        // clock times
        Case{"下午三点十五分", "下午3点15分"}, Case{"十二点零五分", "12点05分"},
        Case{"两点半", "2点半"}, Case{"上午十点半", "上午10点半"}, Case{"晚上八点", "晚上8点"},
        Case{"下午一点", "下午1点"}, Case{"晚上八点二十", "晚上8点20"}, Case{"八点二十", nullptr},
        Case{"三点", nullptr}, Case{"一点儿", nullptr}, Case{"一点也不", nullptr},
        // pass order: a two-digit fraction is a decimal before it can be a time
        Case{"晚上八点零五", "晚上8.05"}, Case{"三点零五", "3.05"},
        // money
        Case{"十五块钱", "15块钱"}, Case{"十五元", "15元"}, Case{"两千五百元", "2500元"},
        Case{"五元", nullptr},
        // dashes
        Case{"A杠一二三", "A-123"},

        // trivial
        Case{"", ""}, Case{"今天天气不错, hello world!\n", nullptr}));

INSTANTIATE_TEST_SUITE_P(DigitStrings, ItnRule,
                         testing::Values(
                             // one digit converts only in a code context and never beside a unit
                             Case{"A一", "A1"}, Case{"一A", "1A"}, Case{"x五y", "x5y"},
                             Case{"A十一", "A11"},
                             Case{"五十A", nullptr /* 五 beside 十; 十 is no digit */},
                             // 一 before a Chinese letter is a word even in a code context
                             Case{"A一个", nullptr}, Case{"A一,", "A1,"}, Case{"一样", nullptr},
                             // two digits need a code context, three always convert
                             Case{"A一二", "A12"}, Case{"A一二的", "A12的"}, Case{"一二B", "12B"},
                             Case{"一二三", "123"}, Case{"一二三百", nullptr},
                             Case{"十一二三", nullptr}, Case{"两三个", nullptr},
                             // dashBefore: 杠 after an ASCII alphanumeric
                             Case{"K杠五", "K-5"}, Case{"杠五", nullptr}, Case{"中杠五", nullptr},
                             // dashAfter: 杠 followed by an alphanumeric or a spoken digit
                             Case{"五杠K", "5-K"}, Case{"五杠三", "5-3"}, Case{"五六杠三", "56-3"},
                             Case{"五杠", nullptr}, Case{"五杠中", nullptr},
                             // a stretch stops at 两 (no digitMap entry), and 〇 counts as zero
                             Case{"一〇一", "101"}, Case{"A两", nullptr}));

INSTANTIATE_TEST_SUITE_P(AfterLatinLetters, ItnRule,
                         testing::Values(Case{"iPhone十五", "iPhone15"}, Case{"Win十一", "Win11"},
                                         Case{"A两百", "A200"},
                                         Case{"A一百十", nullptr /* no value */},
                                         Case{"5十五", nullptr /* a digit is no letter */},
                                         Case{"A一万亿", nullptr}));

INSTANTIATE_TEST_SUITE_P(
    Decimals, ItnRule,
    testing::Values(
        // the fraction: digits, spoken or ASCII; a unit or 分 after it makes it a time or a number
        Case{"三点五十分", "3点50分"}, Case{"三点五分", "3点5分"}, Case{"三点五万", nullptr},
        Case{"点五", nullptr}, Case{"三点5", "3.5"},
        // one digit then a Chinese letter: only a measure word lets it through
        Case{"三点五度", "3.5度"}, Case{"三点五折", "3.5折"}, Case{"三点五,", "3.5,"},
        Case{"三点五A", "3.5A"},
        // the integer part: ASCII digits stay as written, spoken ones are parsed
        Case{"9点五", "9.5"}, Case{"12点五", "12.5"}, Case{"12点八零七", "12.807"},
        Case{"九千万亿点八零七元", nullptr}, Case{"三点八零七", "3.807"}, Case{"12点5", nullptr},
        Case{"十12点五", nullptr}, Case{"两百点五", "200.5"}, Case{"一百十点五", nullptr},
        Case{"元点五", nullptr}, Case{"一点一点", nullptr}, Case{"快一点", nullptr},
        // a spoken integer longer than parseValue accepts declines
        Case{"亿九千九百九十九万九千九百九十九点五", "199999999.5"},
        Case{"一亿九千九百九十九万九千九百九十九点五", nullptr}));

INSTANTIATE_TEST_SUITE_P(Percentages, ItnRule,
                         testing::Values(Case{"百分之12", "12%"}, Case{"百分之12.5", "12.5%"},
                                         Case{"百分之12.", "12%."}, Case{"百分之百", "100%"},
                                         Case{"千分之三点二", "3.2‰"},
                                         Case{"百分之二十多", nullptr}, Case{"百分之五来", nullptr},
                                         Case{"百分之", nullptr}, Case{"百分之一百十", nullptr},
                                         Case{"百分之五点", "5%点"},
                                         Case{"百分之三点五个", "3.5%个"}));

INSTANTIATE_TEST_SUITE_P(Money, ItnRule,
                         testing::Values(Case{"一万块钱", "10000块钱"}, Case{"五块钱", nullptr},
                                         Case{"十五块", nullptr}, Case{"两百万元", "2000000元"},
                                         Case{"一百十元", nullptr}, Case{"A十五元", "A15元"},
                                         Case{"十点五万元", nullptr}, Case{"3点五亿元", nullptr}));

INSTANTIATE_TEST_SUITE_P(
    Dates, ItnRule,
    testing::Values(
        // each branch in order: a full date
        Case{"十月一日", "10月1日"}, Case{"一月三十一号", "1月31号"},
        // no year before: the month stays
        Case{"三月五", nullptr}, Case{"2024年 三月", nullptr}, Case{"年三月", nullptr},
        // year (one digit is enough), no day
        Case{"4年十二月份", "4年12月份"},
        // year, a day followed by a Chinese letter (an invalid terminated day included)
        Case{"2024年三月五次", nullptr}, Case{"2024年二月三十二日", nullptr},
        // year, a valid unterminated day before something else
        Case{"2024年三月五,", "2024年3月5,"},
        // year, an unterminated day that is not valid
        Case{"2024年三月三十二", nullptr}, Case{"2024年三月一二", nullptr},
        // the month itself must be 1 to 12
        Case{"2024年十三月", nullptr}, Case{"2024年零月", nullptr}));

INSTANTIATE_TEST_SUITE_P(
    ClockTimes, ItnRule,
    testing::Values(
        // every day part
        Case{"中午十二点", "中午12点"}, Case{"凌晨零点", "凌晨0点"}, Case{"早上七点", "早上7点"},
        Case{"傍晚六点", "傍晚6点"}, Case{"深夜十一点", "深夜11点"}, Case{"夜里两点", "夜里2点"},
        Case{"半夜三点", "半夜3点"}, Case{"晚点", nullptr}, Case{"上午 十点", nullptr},
        // hours above 24 are no time
        Case{"二十四点半", "24点半"}, Case{"二十五点半", nullptr},
        // padding: only a leading zero and a minute below ten
        Case{"十点零五分", "10点05分"}, Case{"十点〇八分", "10点08分"},
        Case{"十点零分", "10点00分"}, Case{"晚上十点零八", "晚上10.08"},
        Case{"十点十分", "10点10分"},
        // minutes must stay below 60
        Case{"十点六十分", nullptr}, Case{"晚上十点六十", nullptr},
        // with a day part the minute may stand alone, but not before a Chinese letter
        Case{"晚上八点二十,", "晚上8点20,"}, Case{"晚上八点二十个", nullptr},
        Case{"晚上八点二十A", "晚上8点20A"},
        // blocked: only a lone 一 before the small words
        Case{"下午一点儿", nullptr}, Case{"下午十一点儿", "下午11点儿"}, Case{"一点都不", nullptr},
        Case{"一点半", "1点半"},
        // the hour must not follow an ASCII digit
        Case{"十点半", "10点半"}, Case{"3十点半", nullptr}));

INSTANTIATE_TEST_SUITE_P(Hyphens, ItnRule,
                         testing::Values(Case{"A杠B", "A-B"}, Case{"1杠2", "1-2"},
                                         Case{"A杠", nullptr}, Case{"杠B", nullptr},
                                         Case{"中杠B", nullptr}, Case{"A杠杠B", nullptr},
                                         Case{"型号GPT杠四", "型号GPT-4"}));

INSTANTIATE_TEST_SUITE_P(
    Characters, ItnRule,
    testing::Values(
        // a combining mark makes a different character: no rule takes it
        Case{"三\xCC\x81点五", nullptr}, Case{"三点五\xCC\x81", nullptr},
        // "\r\n" is one character that separates like any punctuation
        Case{"一二三\r\n四五六", "123\r\n456"}, Case{"A\r\n一", nullptr},
        // a Latin letter with a combining mark is a letter but not an ASCII letter
        Case{"e\xCC\x81十五", nullptr}, Case{"e\xCC\x81一", nullptr}, Case{"e一", "e1"},
        // invalid UTF-8 is passed through untouched
        Case{"一二三\xff", nullptr}, Case{"\xe4\xb8", nullptr}));

}  // namespace
}  // namespace zavren
