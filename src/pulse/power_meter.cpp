#include "pulse/power_meter.h"

#include <algorithm>
#include <cmath>

namespace zavren {

void PowerMeter::add(const std::int16_t* samples, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const auto s = static_cast<std::int64_t>(samples[i]);
        if (count_ == WINDOW) {
            const auto old = static_cast<std::int64_t>(ring_[next_]);
            sumSquares_ -= static_cast<std::uint64_t>(old * old);
        } else {
            ++count_;
        }
        sumSquares_ += static_cast<std::uint64_t>(s * s);
        ring_[next_] = samples[i];
        next_ = (next_ + 1) % WINDOW;
    }
}

float PowerMeter::averagePower() const {
    if (count_ == 0 || sumSquares_ == 0) return SILENCE_DB;
    const double meanSquare = static_cast<double>(sumSquares_) / static_cast<double>(count_);
    const double db = 10.0 * std::log10(meanSquare / (32768.0 * 32768.0));
    return static_cast<float>(std::max(db, static_cast<double>(SILENCE_DB)));
}

}  // namespace zavren
