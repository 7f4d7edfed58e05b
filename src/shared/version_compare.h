#pragma once

#include <string_view>

namespace zavren {

// Numeric-aware ordering of version texts: runs of ASCII digits compare by their
// numeric value (any length, leading zeros ignored), every other byte compares by
// itself, case-sensitively and without locale. 0.9.2 < 0.10.0 < 1.0.
// Negative when a orders before b, zero when equal, positive otherwise.
int compareNumeric(std::string_view a, std::string_view b);

inline bool numericLess(std::string_view a, std::string_view b) {
    return compareNumeric(a, b) < 0;
}

}  // namespace zavren
