#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/defaults.h"

// Inverse text normalisation: Chinese spoken numbers in a transcript become their
// written form (digit strings, decimals, percentages, money, dates, clock times,
// codes with dashes). Everything no rule takes passes through byte for byte.
namespace zavren::ITN {

// User-defaults key of the switch (a Bool; absent means on).
inline const std::string enabledKey = "zavren.itn.enabled";

// The switch: true when the key is absent or holds something other than a Bool.
bool enabled(Defaults& defaults);

// Stores the opposite of the current effective value.
void toggle(Defaults& defaults);

// What a transcript becomes on its way to the user: normalised when the switch is
// on (read at this moment), unchanged otherwise.
std::string applyIfEnabled(Defaults& defaults, std::string text);

// The normalised text. Total and safe on any thread, concurrently with itself.
// Text that is not valid UTF-8 (or is larger than 2 GiB) comes back unchanged.
std::string apply(std::string_view text);

// The value of a spoken Chinese numeral string such as 两千零二十四; nullopt when
// it has none (empty, more than 16 characters, malformed, above 10^12).
std::optional<std::int64_t> parseValue(std::string_view numeral);

// Whether the text is exactly one of the 18 numeral characters
// (零 〇 一 幺 二 两 三 四 五 六 七 八 九 十 百 千 万 亿).
bool isNumeralChar(std::string_view character);

}  // namespace zavren::ITN
