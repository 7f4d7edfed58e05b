#include <limits>

#include "text/itn_text.h"

namespace zavren::ITN::detail {

std::optional<std::int64_t> parseChars(std::span<const Char> s) {
    constexpr std::int64_t UNBOUNDED = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t CAP = 1'000'000'000'000;
    if (s.empty() || s.size() > 16) return std::nullopt;

    std::int64_t total = 0;    // finished 万/亿 groups
    std::int64_t section = 0;  // the group being read
    int pending = -1;          // a digit waiting for its unit
    bool zeroSeen = false;
    std::int64_t lastUnit = 0;
    std::int64_t smallLimit = UNBOUNDED;
    std::int64_t bigLimit = UNBOUNDED;

    for (std::size_t idx = 0; idx < s.size(); ++idx) {
        const Char& c = s[idx];
        const bool last = idx + 1 == s.size();
        if (has(c, VALUE_KEY)) {
            const int d = c.num;
            if (pending >= 0) return std::nullopt;
            if (d == 0) {
                if (last) break;
                zeroSeen = true;
                continue;
            }
            if (last) {
                // A final digit after a unit counts one place lower (三千五 = 3500)
                // unless a zero came between (一百零五 = 105).
                section += lastUnit >= 10 && !zeroSeen ? d * (lastUnit / 10) : d;
                break;
            }
            pending = d;
            continue;
        }
        if (!isUnit(c)) return std::nullopt;
        const std::int64_t u = unitValue(c);
        if (u < 10'000) {
            if (u >= smallLimit) return std::nullopt;
            std::int64_t mult;
            if (pending >= 0) {
                mult = pending;
            } else if (section == 0 && !zeroSeen) {
                mult = 1;
            } else {
                return std::nullopt;
            }
            section += mult * u;
            smallLimit = u;
        } else {
            if (u >= bigLimit) return std::nullopt;
            std::int64_t g = section + (pending >= 0 ? pending : 0);
            if (g == 0) {
                if (total != 0) return std::nullopt;
                g = 1;
            }
            total += g * u;
            if (total > CAP) return std::nullopt;
            section = 0;
            smallLimit = UNBOUNDED;
            bigLimit = u;
        }
        lastUnit = u;
        pending = -1;
        zeroSeen = false;
    }
    return total + section;
}

}  // namespace zavren::ITN::detail
