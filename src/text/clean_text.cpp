#include "text/clean_text.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>

namespace zavren {

namespace {

bool dropped(UChar32 c) {
    if (c < 0) return true;  // malformed UTF-8
    if (c == '\n' || c == '\t') return false;
    if (c < 0x20 || (c >= 0x7f && c <= 0x9f)) return true;
    // Reordering marks that can make pasted text read other than it runs.
    return (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string cleanText(std::string_view text, bool forTerminal) {
    std::string out;
    out.reserve(text.size());
    // Byte offsets in out just past the last character that is not white space,
    // and of the first one, so trimming needs no second pass.
    std::size_t end = 0;
    bool started = false;
    const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        // A window of at most one sequence keeps U8_NEXT's int32 indexes small.
        const auto len = static_cast<std::int32_t>(std::min<std::size_t>(n - i, 4));
        std::int32_t used = 0;
        UChar32 c;
        U8_NEXT(p + i, used, len, c);
        i += static_cast<std::size_t>(used);
        if (dropped(c)) continue;
        const bool space = u_isUWhiteSpace(c);
        if (space && !started) continue;
        started = true;
        if (forTerminal && c == '\n')
            out += ' ';
        else
            out.append(
                text.substr(i - static_cast<std::size_t>(used), static_cast<std::size_t>(used)));
        if (!space) end = out.size();
    }
    out.resize(end);
    return out;
}

}  // namespace zavren
