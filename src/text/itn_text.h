#pragma once

// The text model the normalisation passes run over: a transcript is segmented once
// into user-perceived characters (extended grapheme clusters), each classified up
// front so the passes only test bits and compare code points.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zavren::ITN::detail {

// Stands in for the code point of a character made of more than one scalar, so
// comparing against a table character never matches it.
inline constexpr char32_t MULTI_SCALAR = 0x110000;

enum CharFlag : std::uint16_t {
    ASCII = 1 << 0,  // one scalar below U+0080, or the "\r\n" pair
    ASCII_DIGIT = 1 << 1,
    ASCII_LETTER = 1 << 2,
    LETTER = 1 << 3,     // first scalar has the Alphabetic property
    DIGIT_KEY = 1 << 4,  // key of digitMap
    VALUE_KEY = 1 << 5,  // key of valueMap
    UNIT_KEY = 1 << 6,   // key of unitMap
};

struct Char {
    std::string_view text;  // into the input, or into static storage for written characters
    char32_t cp = MULTI_SCALAR;
    std::uint16_t flags = 0;
    // valueMap value (equal to the digitMap digit where both exist), or the power
    // of ten of a unitMap multiplier.
    std::uint8_t num = 0;
};

using Chars = std::vector<Char>;

inline bool has(const Char& c, std::uint16_t f) {
    return (c.flags & f) != 0;
}
inline bool isAsciiDigit(const Char& c) {
    return has(c, ASCII_DIGIT);
}
inline bool isAsciiLetter(const Char& c) {
    return has(c, ASCII_LETTER);
}
inline bool isAsciiAlnum(const Char& c) {
    return has(c, ASCII_DIGIT | ASCII_LETTER);
}
inline bool isChineseLetter(const Char& c) {
    return (c.flags & (LETTER | ASCII)) == LETTER;
}
inline bool isDigitKey(const Char& c) {
    return has(c, DIGIT_KEY);
}
inline bool isUnit(const Char& c) {
    return has(c, UNIT_KEY);
}
inline bool isNumeral(const Char& c) {
    return has(c, VALUE_KEY | UNIT_KEY);
}

// The characters the passes compare against by identity.
inline constexpr char32_t LING = U'零';
inline constexpr char32_t LING_CIRCLE = U'〇';
inline constexpr char32_t YI = U'一';
inline constexpr char32_t BAI = U'百';
inline constexpr char32_t QIAN = U'千';
inline constexpr char32_t DIAN = U'点';
inline constexpr char32_t FEN = U'分';
inline constexpr char32_t ZHI = U'之';
inline constexpr char32_t YUE = U'月';
inline constexpr char32_t RI = U'日';
inline constexpr char32_t HAO = U'号';
inline constexpr char32_t NIAN = U'年';
inline constexpr char32_t YUAN = U'元';
inline constexpr char32_t KUAI = U'块';
inline constexpr char32_t QIAN_MONEY = U'钱';
inline constexpr char32_t GANG = U'杠';
inline constexpr char32_t BAN = U'半';

// The output ends with 点 after a number: what follows is the fraction of a spoken
// decimal, the decimals pass's to read, never a number of its own (十点五万元 must
// not become 十点50000元).
inline bool afterDecimalPoint(const Chars& out) {
    return out.size() >= 2 && out.back().cp == DIAN &&
           (isNumeral(out[out.size() - 2]) || isAsciiDigit(out[out.size() - 2]));
}

// Membership in the small sets that only some rules consult.
bool isFracUnitOK(const Char& c);
bool isApproxMarker(const Char& c);
bool isYiDianFollower(const Char& c);
bool isDayPart(const Char& first, const Char& second);

// The multiplier of a unitMap key.
std::int64_t unitValue(const Char& c);

// Whether a code point is one that some rule starts at (a numeral, 点 or 杠).
enum Trigger : std::uint8_t { NO_TRIGGER = 0, NUMERAL = 1, DIAN_TRIGGER = 2, GANG_TRIGGER = 4 };
std::uint8_t triggerOf(char32_t cp);

// Classifies one grapheme cluster (valid UTF-8, not empty).
Char classify(std::string_view cluster);

// Characters written by the passes themselves.
Char asciiChar(char c);
Char permilleChar();

// Splits valid UTF-8 into classified characters; false when ICU fails.
bool segment(std::string_view text, Chars& out);

// Appends the plain decimal digits of a non-negative value.
void writeNumber(Chars& out, std::int64_t value);

// The value of a numeral string, over already classified characters.
std::optional<std::int64_t> parseChars(std::span<const Char> numeral);

}  // namespace zavren::ITN::detail
