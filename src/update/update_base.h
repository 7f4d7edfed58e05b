#pragma once

#include <optional>
#include <string>

namespace zavren {

struct UpdateBase {
    std::string url;
    // Set when a value was given but not used; says which and why.
    std::optional<std::string> warning;
};

// The downloads base for a value of ZAVREN_UPDATE_BASE: the value itself when it is
// an absolute http(s) URL (taken as is, no trimming), else the built-in default.
UpdateBase resolveUpdateBase(const std::optional<std::string>& envValue);

}  // namespace zavren
