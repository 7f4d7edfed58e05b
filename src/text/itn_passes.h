#pragma once

// The eight passes, in the order apply runs them. Each reads the whole output of
// the pass before and appends its own output to `out` (which starts empty).

#include <optional>
#include <string>
#include <string_view>

#include "text/itn_text.h"

namespace zavren::ITN::detail {

// Which kinds of characters that start a rule occur in a text.
struct Presence {
    bool numeral = false;
    bool dian = false;
    bool gang = false;
    bool any() const { return numeral || dian || gang; }
};

// One pass over the bytes; nullopt when the text is not valid UTF-8.
std::optional<Presence> scan(std::string_view text);

// Segments the text and runs the passes in order, skipping those that cannot
// apply given `presence` (the passes never write a numeral, 点 or 杠 that was not
// there). nullopt when the text cannot be segmented.
std::optional<std::string> runPasses(std::string_view text, Presence presence);

void digitStrings(const Chars& in, Chars& out);  // 幺三八 -> 138, A杠一 -> A杠1
void afterLatin(const Chars& in, Chars& out);    // ABC十五 -> ABC15
void decimals(const Chars& in, Chars& out);      // 三点五米 -> 3.5米
void percentages(const Chars& in, Chars& out);   // 百分之五十 -> 50%
void money(const Chars& in, Chars& out);         // 十五块钱 -> 15块钱
void dates(const Chars& in, Chars& out);         // 2024年三月五日 -> 2024年3月5日
void clockTimes(const Chars& in, Chars& out);    // 下午三点十五分 -> 下午3点15分
void hyphens(const Chars& in, Chars& out);       // A杠1 -> A-1

}  // namespace zavren::ITN::detail
