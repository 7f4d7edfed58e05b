// Percentages and permilles, money, month/day dates, clock times and dashes.

#include <string_view>

#include "text/itn_passes.h"

namespace zavren::ITN::detail {

namespace {

void copy(const Chars& in, std::size_t from, std::size_t to, Chars& out) {
    out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(from),
               in.begin() + static_cast<std::ptrdiff_t>(to));
}

std::size_t numeralRunEnd(const Chars& in, std::size_t i) {
    while (i < in.size() && isNumeral(in[i])) ++i;
    return i;
}

std::size_t asciiDigitsEnd(const Chars& in, std::size_t i) {
    while (i < in.size() && isAsciiDigit(in[i])) ++i;
    return i;
}

std::optional<std::int64_t> valueOf(const Chars& in, std::size_t from, std::size_t to) {
    return parseChars(std::span(in).subspan(from, to - from));
}

bool is(const Chars& in, std::size_t k, char32_t cp) {
    return k < in.size() && in[k].cp == cp;
}

}  // namespace

void percentages(const Chars& in, Chars& out) {
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        const bool percent = in[i].cp == BAI;
        if (!(percent || in[i].cp == QIAN) || !is(in, i + 1, FEN) || !is(in, i + 2, ZHI)) {
            out.push_back(in[i++]);
            continue;
        }
        std::size_t k = i + 3;
        // The number is either copied from the input [numFrom, numTo) as it stands
        // (ASCII digits), or a spoken value with an optional spoken fraction.
        std::size_t numFrom = k, numTo = k;
        std::optional<std::int64_t> value;
        std::size_t fracFrom = 0, fracTo = 0;
        if (k < n && isAsciiDigit(in[k])) {
            numTo = asciiDigitsEnd(in, k);
            if (is(in, numTo, U'.') && numTo + 1 < n && isAsciiDigit(in[numTo + 1]))
                numTo = asciiDigitsEnd(in, numTo + 1);
            k = numTo;
        } else if (const std::size_t m = numeralRunEnd(in, k); m > k) {
            value = valueOf(in, k, m);
            if (value) {
                k = m;
                if (is(in, m, DIAN)) {
                    fracFrom = fracTo = m + 1;
                    while (fracTo < n && (isDigitKey(in[fracTo]) || isAsciiDigit(in[fracTo])))
                        ++fracTo;
                    if (fracTo > fracFrom) k = fracTo;
                }
            }
        }
        bool empty = numTo == numFrom && !value;
        // 百分之十几: an approximate share stays as spoken.
        if (k < n && isApproxMarker(in[k])) empty = true;
        if (empty) {
            out.push_back(in[i++]);
            continue;
        }
        if (value) {
            writeNumber(out, *value);
            if (fracTo > fracFrom) {
                out.push_back(asciiChar('.'));
                for (std::size_t f = fracFrom; f < fracTo; ++f)
                    out.push_back(isDigitKey(in[f]) ? asciiChar(static_cast<char>('0' + in[f].num))
                                                    : in[f]);
            }
        } else {
            copy(in, numFrom, numTo, out);
        }
        out.push_back(percent ? asciiChar('%') : permilleChar());
        i = k;
    }
}

namespace {

// A numeral whose previous output character is neither a numeral nor an ASCII
// digit: the start of a number that no earlier pass has taken.
bool startsFreeNumeral(const Chars& in, std::size_t i, const Chars& out) {
    return isNumeral(in[i]) && !afterDecimalPoint(out) &&
           (out.empty() || !(isNumeral(out.back()) || isAsciiDigit(out.back())));
}

}  // namespace

void money(const Chars& in, Chars& out) {
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        if (!startsFreeNumeral(in, i, out)) {
            out.push_back(in[i++]);
            continue;
        }
        const std::size_t m = numeralRunEnd(in, i);
        const bool currency = is(in, m, YUAN) || (is(in, m, KUAI) && is(in, m + 1, QIAN_MONEY));
        const auto value = m - i >= 2 && currency ? valueOf(in, i, m) : std::nullopt;
        if (value) {
            writeNumber(out, *value);
        } else {
            copy(in, i, m, out);
        }
        i = m;
    }
}

void dates(const Chars& in, Chars& out) {
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        if (!isNumeral(in[i]) || (!out.empty() && isNumeral(out.back()))) {
            out.push_back(in[i++]);
            continue;
        }
        const std::size_t m = numeralRunEnd(in, i);
        const auto month = is(in, m, YUE) ? valueOf(in, i, m) : std::nullopt;
        if (!month || *month < 1 || *month > 12) {
            copy(in, i, m, out);
            i = m;
            continue;
        }
        const std::size_t d = numeralRunEnd(in, m + 1);
        const bool dayEmpty = d == m + 1;
        const bool terminated = !dayEmpty && (is(in, d, RI) || is(in, d, HAO));
        const std::int64_t day = dayEmpty ? -1 : valueOf(in, m + 1, d).value_or(-1);
        const bool dayValid = day >= 1 && day <= 31;
        const bool yearBefore =
            out.size() >= 2 && out.back().cp == NIAN && isAsciiDigit(out[out.size() - 2]);

        // A plain copy: GCC's -O3 flow analysis loses track of the optional here.
        const std::int64_t monthValue = *month;
        auto writeMonth = [&] {
            writeNumber(out, monthValue);
            out.push_back(in[m]);
        };
        if (!dayEmpty && terminated && dayValid) {
            writeMonth();
            writeNumber(out, day);
            out.push_back(in[d]);
            i = d + 1;
        } else if (!yearBefore) {
            copy(in, i, m, out);
            i = m;
        } else if (dayEmpty) {
            writeMonth();
            i = m + 1;
        } else if (d < n && isChineseLetter(in[d])) {
            copy(in, i, m, out);
            i = m;
        } else if (dayValid) {
            writeMonth();
            writeNumber(out, day);
            i = d;
        } else {
            copy(in, i, m, out);
            i = m;
        }
    }
}

void clockTimes(const Chars& in, Chars& out) {
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        if (!startsFreeNumeral(in, i, out)) {
            out.push_back(in[i++]);
            continue;
        }
        const std::size_t m = numeralRunEnd(in, i);
        const auto hour = is(in, m, DIAN) ? valueOf(in, i, m) : std::nullopt;
        if (!hour || *hour < 0 || *hour > 24) {
            copy(in, i, m, out);
            i = m;
            continue;
        }
        const bool dayPart = out.size() >= 2 && isDayPart(out[out.size() - 2], out.back());
        std::size_t k = m + 1;
        const Char* next = k < n ? &in[k] : nullptr;
        // 一点儿, 一点也不: "a little", not one o'clock.
        const bool blocked =
            m - i == 1 && in[i].cp == YI && next != nullptr && isYiDianFollower(*next);

        enum class Minute { NONE, HALF, NUMBER, NUMBER_FEN } minuteKind = Minute::NONE;
        std::int64_t minute = 0;
        bool padded = false;
        bool decline = false;
        std::size_t u = k;
        if (next != nullptr && next->cp == BAN) {
            minuteKind = Minute::HALF;
            k = m + 2;
        } else if (next != nullptr && isNumeral(*next)) {
            u = numeralRunEnd(in, k);
            const auto value = valueOf(in, k, u);
            padded = (in[k].cp == LING || in[k].cp == LING_CIRCLE) && value && *value < 10;
            if (is(in, u, FEN) && value && *value < 60) {
                minuteKind = Minute::NUMBER_FEN;
                minute = *value;
                k = u + 1;
            } else if (!dayPart) {
                decline = true;
            } else if (u < n && isChineseLetter(in[u])) {
                decline = true;
            } else if (!value || *value > 59) {
                decline = true;
            } else {
                minuteKind = Minute::NUMBER;
                minute = *value;
                k = u;
            }
        }
        if (blocked || decline || (!dayPart && minuteKind == Minute::NONE)) {
            copy(in, i, m, out);
            i = m;
            continue;
        }
        writeNumber(out, *hour);
        out.push_back(in[m]);
        switch (minuteKind) {
            case Minute::NONE:
                break;
            case Minute::HALF:
                out.push_back(in[m + 1]);
                break;
            case Minute::NUMBER:
            case Minute::NUMBER_FEN:
                if (padded) out.push_back(asciiChar('0'));
                writeNumber(out, minute);
                if (minuteKind == Minute::NUMBER_FEN) out.push_back(in[u]);
                break;
        }
        i = k;
    }
}

void hyphens(const Chars& in, Chars& out) {
    const std::size_t n = in.size();
    for (std::size_t i = 0; i < n; ++i) {
        const bool dash = in[i].cp == GANG && !out.empty() && isAsciiAlnum(out.back()) &&
                          i + 1 < n && isAsciiAlnum(in[i + 1]);
        out.push_back(dash ? asciiChar('-') : in[i]);
    }
}

}  // namespace zavren::ITN::detail
