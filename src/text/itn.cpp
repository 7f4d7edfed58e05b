#include "text/itn.h"

#include <unicode/utf8.h>

#include <algorithm>

#include "text/itn_passes.h"

namespace zavren::ITN {

namespace detail {

std::optional<Presence> scan(std::string_view text) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::size_t n = text.size();
    Presence found;
    std::size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        // A window of at most one sequence keeps U8_NEXT's int32 indexes small.
        const auto len = static_cast<std::int32_t>(std::min<std::size_t>(n - i, 4));
        std::int32_t used = 0;
        UChar32 c;
        U8_NEXT(p + i, used, len, c);
        if (c < 0) return std::nullopt;
        switch (triggerOf(static_cast<char32_t>(c))) {
            case NUMERAL:
                found.numeral = true;
                break;
            case DIAN_TRIGGER:
                found.dian = true;
                break;
            case GANG_TRIGGER:
                found.gang = true;
                break;
            default:
                break;
        }
        i += static_cast<std::size_t>(used);
    }
    return found;
}

std::optional<std::string> runPasses(std::string_view text, Presence presence) {
    // Chinese text takes three bytes a character, mixed text rarely under two; pure
    // ASCII grows the vector once.
    Chars a;
    a.reserve(text.size() / 2 + 16);
    if (!segment(text, a)) return std::nullopt;
    Chars b;
    b.reserve(a.size() + 16);

    using Pass = void (*)(const Chars&, Chars&);
    const struct {
        Pass pass;
        bool needed;
    } passes[] = {
        {digitStrings, presence.numeral}, {afterLatin, presence.numeral}, {decimals, presence.dian},
        {percentages, presence.numeral},  {money, presence.numeral},      {dates, presence.numeral},
        {clockTimes, presence.numeral},   {hyphens, presence.gang},
    };
    for (const auto& step : passes) {
        if (!step.needed) continue;
        b.clear();
        step.pass(a, b);
        a.swap(b);
    }

    std::size_t bytes = 0;
    for (const Char& c : a) bytes += c.text.size();
    std::string out;
    out.reserve(bytes);
    for (const Char& c : a) out.append(c.text);
    return out;
}

}  // namespace detail

bool enabled(Defaults& defaults) {
    return defaults.boolValue(enabledKey).value_or(true);
}

void toggle(Defaults& defaults) {
    defaults.setBool(enabledKey, !enabled(defaults));
}

std::string applyIfEnabled(Defaults& defaults, std::string text) {
    return enabled(defaults) ? apply(text) : text;
}

std::string apply(std::string_view text) {
    try {
        const auto presence = detail::scan(text);
        if (!presence || !presence->any()) return std::string(text);
        if (auto out = detail::runPasses(text, *presence)) return std::move(*out);
    } catch (...) {
        // Out of memory inside the passes: the text stays as it was.
    }
    return std::string(text);
}

std::optional<std::int64_t> parseValue(std::string_view numeral) {
    try {
        if (!detail::scan(numeral)) return std::nullopt;
        detail::Chars chars;
        if (!detail::segment(numeral, chars)) return std::nullopt;
        return detail::parseChars(chars);
    } catch (...) {
        return std::nullopt;
    }
}

bool isNumeralChar(std::string_view character) {
    if (character.empty() || !detail::scan(character)) return false;
    const detail::Char c = detail::classify(character);
    return c.cp != detail::MULTI_SCALAR && detail::isNumeral(c);
}

}  // namespace zavren::ITN
