#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <array>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "text/itn_text.h"

namespace zavren::ITN::detail {

namespace {

struct Traits {
    std::uint16_t flags = 0;
    std::uint8_t num = 0;
    std::uint8_t trigger = NO_TRIGGER;
};

char32_t decodeOne(std::string_view s, std::size_t* consumed) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(s.data());
    const auto n = static_cast<std::int32_t>(s.size());
    std::int32_t i = 0;
    UChar32 c;
    U8_NEXT(p, i, n, c);
    *consumed = static_cast<std::size_t>(i);
    return c < 0 ? MULTI_SCALAR : static_cast<char32_t>(c);
}

std::uint64_t pairKey(char32_t a, char32_t b) {
    return (std::uint64_t{a} << 32) | b;
}

// Immutable after construction; built once on first use (a function-local
// static, so concurrent first calls are safe).
struct Tables {
    const std::unordered_map<char32_t, char> digitMap{
        {U'零', '0'}, {U'〇', '0'}, {U'一', '1'}, {U'幺', '1'}, {U'二', '2'}, {U'三', '3'},
        {U'四', '4'}, {U'五', '5'}, {U'六', '6'}, {U'七', '7'}, {U'八', '8'}, {U'九', '9'}};
    const std::unordered_map<char32_t, int> valueMap{
        {U'零', 0}, {U'〇', 0}, {U'一', 1}, {U'幺', 1}, {U'二', 2}, {U'两', 2}, {U'三', 3},
        {U'四', 4}, {U'五', 5}, {U'六', 6}, {U'七', 7}, {U'八', 8}, {U'九', 9}};
    // Multipliers as powers of ten.
    const std::unordered_map<char32_t, std::uint8_t> unitMap{
        {U'十', 1}, {U'百', 2}, {U'千', 3}, {U'万', 4}, {U'亿', 8}};
    const std::unordered_set<char32_t> fracUnitOK{U'度', U'元', U'块', U'米', U'秒', U'克', U'斤',
                                                  U'倍', U'吨', U'升', U'毫', U'厘', U'亩', U'折'};
    const std::unordered_set<char32_t> approxMarkers{U'几', U'多', U'来'};
    const std::unordered_set<char32_t> yiDianFollowers{U'也', U'都', U'点', U'儿'};
    std::unordered_set<std::uint64_t> dayParts;
    // The numeral tables and the trigger characters folded into one array over the
    // block that holds all of them, so classifying a character is one index.
    static constexpr char32_t DENSE_FROM = 0x3000;
    static constexpr char32_t DENSE_TO = 0xA000;
    std::vector<Traits> dense = std::vector<Traits>(DENSE_TO - DENSE_FROM);

    const Traits* find(char32_t cp) const {
        return cp >= DENSE_FROM && cp < DENSE_TO ? &dense[cp - DENSE_FROM] : nullptr;
    }
    Traits& at(char32_t cp) { return dense.at(cp - DENSE_FROM); }

    Tables() {
        for (std::u32string_view w : {U"上午", U"下午", U"中午", U"晚上", U"凌晨", U"早上", U"傍晚",
                                      U"深夜", U"夜里", U"半夜"})
            dayParts.insert(pairKey(w[0], w[1]));
        for (auto [cp, v] : valueMap) {
            Traits& t = at(cp);
            t.flags |= VALUE_KEY;
            t.num = static_cast<std::uint8_t>(v);
            t.trigger = NUMERAL;
        }
        for (auto [cp, d] : digitMap) {
            Traits& t = at(cp);
            t.flags |= DIGIT_KEY;
            t.num = static_cast<std::uint8_t>(d - '0');
        }
        for (auto [cp, e] : unitMap) {
            Traits& t = at(cp);
            t.flags |= UNIT_KEY;
            t.num = e;
            t.trigger = NUMERAL;
        }
        at(DIAN).trigger = DIAN_TRIGGER;
        at(GANG).trigger = GANG_TRIGGER;
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

bool inSet(const std::unordered_set<char32_t>& set, const Char& c) {
    return c.cp != MULTI_SCALAR && set.count(c.cp) != 0;
}

// One byte of static storage per ASCII character, so written characters can
// point at their text without owning it.
constexpr std::array<char, 128> ASCII_BYTES = [] {
    std::array<char, 128> a{};
    for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<char>(i);
    return a;
}();

}  // namespace

bool isFracUnitOK(const Char& c) {
    return inSet(tables().fracUnitOK, c);
}

bool isApproxMarker(const Char& c) {
    return inSet(tables().approxMarkers, c);
}

bool isYiDianFollower(const Char& c) {
    return inSet(tables().yiDianFollowers, c);
}

bool isDayPart(const Char& first, const Char& second) {
    if (first.cp == MULTI_SCALAR || second.cp == MULTI_SCALAR) return false;
    return tables().dayParts.count(pairKey(first.cp, second.cp)) != 0;
}

std::int64_t unitValue(const Char& c) {
    std::int64_t v = 1;
    for (std::uint8_t e = 0; e < c.num; ++e) v *= 10;
    return v;
}

std::uint8_t triggerOf(char32_t cp) {
    const Traits* t = tables().find(cp);
    return t != nullptr ? t->trigger : std::uint8_t{NO_TRIGGER};
}

Char classify(std::string_view cluster) {
    Char c;
    c.text = cluster;
    std::size_t used = 0;
    const char32_t first = decodeOne(cluster, &used);
    const bool single = used == cluster.size();
    if (first < 0x80) {
        const auto b = static_cast<char>(first);
        const bool digit = b >= '0' && b <= '9';
        const bool letter = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
        if (letter) c.flags |= LETTER;
        if (single) {
            c.cp = first;
            c.flags |= ASCII;
            if (digit) c.flags |= ASCII_DIGIT;
            if (letter) c.flags |= ASCII_LETTER;
        } else if (cluster == "\r\n") {
            c.flags |= ASCII;
        }
        return c;
    }
    if (first != MULTI_SCALAR && u_hasBinaryProperty(static_cast<UChar32>(first), UCHAR_ALPHABETIC))
        c.flags |= LETTER;
    if (!single) return c;
    c.cp = first;
    if (const Traits* t = tables().find(first)) {
        c.flags |= t->flags;
        c.num = t->num;
    }
    return c;
}

Char asciiChar(char ch) {
    return classify(std::string_view(&ASCII_BYTES[static_cast<unsigned char>(ch) & 0x7f], 1));
}

Char permilleChar() {
    return classify("‰");
}

void writeNumber(Chars& out, std::int64_t value) {
    char buf[24];
    int n = 0;
    auto v = static_cast<std::uint64_t>(value < 0 ? 0 : value);
    do {
        buf[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n > 0) out.push_back(asciiChar(buf[--n]));
}

}  // namespace zavren::ITN::detail
