#pragma once

#include <optional>
#include <string>

namespace zavren {

// The downloads base for a given value of ZAVREN_UPDATE_BASE: the value itself when
// it is an absolute http(s) URL (taken as is, no trimming), else the built-in default.
std::string resolveUpdateBase(const std::optional<std::string>& envValue);

// The downloads base of this process, read from the environment once, on first use.
const std::string& updateBase();

// UPDATE_BASE reads like the constant it is and still waits for first use.
struct UpdateBaseConstant {
    operator const std::string&() const { return updateBase(); }
    const std::string& str() const { return updateBase(); }
};
inline constexpr UpdateBaseConstant UPDATE_BASE{};

}  // namespace zavren
