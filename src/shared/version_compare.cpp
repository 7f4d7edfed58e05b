#include "shared/version_compare.h"

#include <cstddef>

namespace zavren {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Compares the digit runs starting at a[i] and b[j] and moves past them.
int compareRuns(std::string_view a, std::size_t& i, std::string_view b, std::size_t& j) {
    while (i < a.size() && a[i] == '0' && i + 1 < a.size() && isDigit(a[i + 1])) ++i;
    while (j < b.size() && b[j] == '0' && j + 1 < b.size() && isDigit(b[j + 1])) ++j;
    std::size_t ia = i, jb = j;
    while (ia < a.size() && isDigit(a[ia])) ++ia;
    while (jb < b.size() && isDigit(b[jb])) ++jb;
    // Without leading zeros the longer run is the larger number.
    const std::size_t lenA = ia - i, lenB = jb - j;
    int result = 0;
    if (lenA != lenB) {
        result = lenA < lenB ? -1 : 1;
    } else {
        int c = a.substr(i, lenA).compare(b.substr(j, lenB));
        result = c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    i = ia;
    j = jb;
    return result;
}

}  // namespace

int compareNumeric(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            if (int c = compareRuns(a, i, b, j); c != 0) return c;
            continue;
        }
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (ca != cb) return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

}  // namespace zavren
