// Digit strings, numbers after Latin letters, and decimals spoken with 点.

#include "text/itn_passes.h"

namespace zavren::ITN::detail {

namespace {

void copy(const Chars& in, std::size_t from, std::size_t to, Chars& out) {
    out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(from),
               in.begin() + static_cast<std::ptrdiff_t>(to));
}

void writeDigit(const Char& c, Chars& out) {
    out.push_back(isDigitKey(c) ? asciiChar(static_cast<char>('0' + c.num)) : c);
}

std::size_t numeralRunEnd(const Chars& in, std::size_t i) {
    while (i < in.size() && isNumeral(in[i])) ++i;
    return i;
}

}  // namespace

void digitStrings(const Chars& in, Chars& out) {
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        if (!isDigitKey(in[i])) {
            out.push_back(in[i++]);
            continue;
        }
        std::size_t j = i;
        while (j < n && isDigitKey(in[j])) ++j;

        const Char* prev = out.empty() ? nullptr : &out.back();
        const Char* next = j < n ? &in[j] : nullptr;
        const bool dashBefore = prev != nullptr && prev->cp == GANG && out.size() >= 2 &&
                                isAsciiAlnum(out[out.size() - 2]);
        const bool dashAfter = next != nullptr && next->cp == GANG && j + 1 < n &&
                               (isAsciiAlnum(in[j + 1]) || isDigitKey(in[j + 1]));
        const bool codeContext = (prev != nullptr && isAsciiAlnum(*prev)) ||
                                 (next != nullptr && isAsciiAlnum(*next)) || dashBefore ||
                                 dashAfter;
        const bool unitNeighbour =
            (prev != nullptr && isUnit(*prev)) || (next != nullptr && isUnit(*next));

        const bool fraction = afterDecimalPoint(out);

        bool convert;
        if (fraction) {
            convert = false;
        } else if (j - i >= 2) {
            convert = !unitNeighbour && (j - i >= 3 || codeContext);
        } else if (in[i].cp == YI && next != nullptr && isChineseLetter(*next)) {
            convert = false;  // 一个, 一样: a word, not a digit
        } else {
            convert = codeContext && !unitNeighbour;
        }
        if (convert) {
            for (std::size_t k = i; k < j; ++k) writeDigit(in[k], out);
        } else {
            copy(in, i, j, out);
        }
        i = j;
    }
}

void afterLatin(const Chars& in, Chars& out) {
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        if (!isNumeral(in[i]) || out.empty() || !isAsciiLetter(out.back())) {
            out.push_back(in[i++]);
            continue;
        }
        const std::size_t j = numeralRunEnd(in, i);
        bool hasUnit = false;
        for (std::size_t k = i; k < j; ++k) hasUnit = hasUnit || isUnit(in[k]);
        const auto value = hasUnit ? parseChars(std::span(in).subspan(i, j - i)) : std::nullopt;
        if (value) {
            writeNumber(out, *value);
        } else {
            copy(in, i, j, out);
        }
        i = j;
    }
}

void decimals(const Chars& in, Chars& out) {
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        if (in[i].cp != DIAN) {
            out.push_back(in[i++]);
            continue;
        }
        std::size_t j = i + 1;
        bool chineseFraction = false;
        while (j < n && (isDigitKey(in[j]) || isAsciiDigit(in[j]))) {
            chineseFraction = chineseFraction || isDigitKey(in[j]);
            ++j;
        }
        const std::size_t fracLen = j - i - 1;
        const Char* after = j < n ? &in[j] : nullptr;

        // Where the integer part starts in the output and, when it is spoken, its value.
        std::size_t intStart = out.size();
        std::optional<std::int64_t> chineseInteger;
        bool ok = fracLen > 0 && !out.empty();
        if (after != nullptr && (isUnit(*after) || after->cp == FEN)) ok = false;
        if (fracLen == 1 && after != nullptr && isChineseLetter(*after) && !isFracUnitOK(*after))
            ok = false;
        if (ok && isAsciiDigit(out.back())) {
            while (intStart > 0 && isAsciiDigit(out[intStart - 1])) --intStart;
            if (intStart > 0 && isNumeral(out[intStart - 1])) ok = false;
        } else if (ok && isNumeral(out.back())) {
            // A run longer than parseValue accepts can stop the walk early: it declines anyway.
            while (intStart > 0 && isNumeral(out[intStart - 1]) && out.size() - intStart <= 16)
                --intStart;
            if (intStart > 0 && isAsciiDigit(out[intStart - 1])) ok = false;
            if (ok) {
                chineseInteger = parseChars(std::span(out).subspan(intStart));
                ok = chineseInteger.has_value();
            }
        } else {
            ok = false;
        }
        // ASCII digits on both sides of a spoken 点 are left alone.
        if (ok && !chineseFraction && !chineseInteger) ok = false;

        if (!ok) {
            out.push_back(in[i++]);
            continue;
        }
        if (chineseInteger) {
            out.resize(intStart);
            writeNumber(out, *chineseInteger);
        }
        out.push_back(asciiChar('.'));
        for (std::size_t k = i + 1; k < j; ++k) writeDigit(in[k], out);
        i = j;
    }
}

}  // namespace zavren::ITN::detail
