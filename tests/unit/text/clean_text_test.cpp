#include "text/clean_text.h"

#include <gtest/gtest.h>

#include <string>

namespace zavren {
namespace {

using namespace std::string_literals;

TEST(CleanText, DropsWhatCouldActOnTheReaderAndTrims) {
    struct Case {
        std::string in;
        const char* editor;
        const char* terminal;
    };
    const Case cases[] = {
        {"echo hi\n", "echo hi", "echo hi"},
        {" \t\u3000你好\r\n世界 \n", "你好\n世界", "你好 世界"},
        {"\x1b[31mred\x1b[0m", "[31mred[0m", "[31mred[0m"},
        {"a\0b"s, "ab", "ab"},
        {"\u202eevil\u202c \u2066x\u2069", "evil x", "evil x"},
        {"c1\u0085\u009bx\x7f", "c1x", "c1x"},
        {"tab\there", "tab\there", "tab\there"},
        {"bad\xff\xc3utf8", "badutf8", "badutf8"},
        {"\u200b零宽\u00a0", "\u200b零宽", "\u200b零宽"},
        {" \n\x01 ", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cleanText(c.in, false), c.editor) << c.in;
        EXPECT_EQ(cleanText(c.in, true), c.terminal) << c.in;
    }
}

}  // namespace
}  // namespace zavren
