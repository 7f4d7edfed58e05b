#include "pulse/power_meter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace zavren {
namespace {

std::vector<std::int16_t> sine(double amplitude, std::size_t n) {
    std::vector<std::int16_t> s(n);
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * M_PI * 440.0 * static_cast<double>(i) / 16000.0)));
    return s;
}

TEST(PowerMeter, NoSamplesOrDigitalSilenceReadsMinus160) {
    PowerMeter m;
    EXPECT_EQ(m.averagePower(), -160.0f);
    std::vector<std::int16_t> zeros(2000, 0);
    m.add(zeros.data(), zeros.size());
    EXPECT_EQ(m.averagePower(), -160.0f);
}

TEST(PowerMeter, ReadsRmsInDbfs) {
    struct Case {
        double amplitude;
        double expectedDb;
    };
    // A sine's RMS is its peak over sqrt(2): 3.01 dB below the peak level.
    for (auto c : {Case{32767, -3.01}, Case{3276.7, -23.01}, Case{32.767, -63.01}}) {
        PowerMeter m;
        auto s = sine(c.amplitude, 4000);
        m.add(s.data(), s.size());
        EXPECT_NEAR(m.averagePower(), c.expectedDb, 0.1) << c.amplitude;
    }
    PowerMeter square;
    std::vector<std::int16_t> s(960);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = i % 2 ? -32768 : 32767;
    square.add(s.data(), s.size());
    EXPECT_NEAR(square.averagePower(), 0.0, 0.01);
}

TEST(PowerMeter, OnlyTheLatest960SamplesCount) {
    PowerMeter m;
    auto loud = sine(32767, 5000);
    m.add(loud.data(), loud.size());
    std::vector<std::int16_t> quiet(959, 0);
    m.add(quiet.data(), quiet.size());
    EXPECT_GT(m.averagePower(), -60.0f);  // one loud sample is still in the window
    std::int16_t one = 0;
    m.add(&one, 1);
    EXPECT_EQ(m.averagePower(), -160.0f);
}

TEST(PowerMeter, PartialWindowAveragesOverWhatArrived) {
    PowerMeter m;
    auto s = sine(3276.7, 160);  // 10 ms
    m.add(s.data(), s.size());
    EXPECT_NEAR(m.averagePower(), -23.01, 0.3);
}

}  // namespace
}  // namespace zavren
