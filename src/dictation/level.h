#pragma once

#include <algorithm>
#include <cmath>

namespace zavren {

// Meter power in dBFS to a bar level in 0...1: -50 dB and below is 0, 0 dB is 1.
inline double levelFor(float power) {
    const double level = (static_cast<double>(power) + 50.0) / 50.0;
    if (std::isnan(level)) return 0.0;
    return std::clamp(level, 0.0, 1.0);
}

}  // namespace zavren
