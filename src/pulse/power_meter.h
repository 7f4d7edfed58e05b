#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zavren {

// RMS level of the latest WINDOW samples in dBFS (full scale = 32768), -160 with none.
// Kept as a running sum so each fragment costs only its own samples.
class PowerMeter {
  public:
    static constexpr std::size_t WINDOW = 960;
    static constexpr float SILENCE_DB = -160.0f;

    void add(const std::int16_t* samples, std::size_t n);
    float averagePower() const;

  private:
    std::array<std::int16_t, WINDOW> ring_{};
    std::size_t next_ = 0;
    std::size_t count_ = 0;
    std::uint64_t sumSquares_ = 0;
};

}  // namespace zavren
