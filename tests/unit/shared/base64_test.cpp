#include "shared/base64.h"

#include <gtest/gtest.h>

#include <random>

namespace zavren {
namespace {

TEST(Base64, KnownVectors) {
    const std::pair<std::string, std::string> cases[] = {{"", ""},
                                                         {"f", "Zg=="},
                                                         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},
                                                         {"foob", "Zm9vYg=="},
                                                         {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"},
                                                         {std::string("\xff\xfe\x00", 3), "//4A"}};
    for (const auto& [raw, enc] : cases) {
        EXPECT_EQ(base64::encode(raw), enc);
        EXPECT_EQ(base64::decode(enc), raw);
    }
}

TEST(Base64, RoundTripsBinaryLongerThanOneSlice) {
    std::mt19937 rng(7);
    std::string raw(3 * (1u << 20) + 5, '\0');
    for (auto& c : raw) c = static_cast<char>(rng());
    EXPECT_EQ(base64::decode(base64::encode(raw)), raw);
}

TEST(Base64, RejectsMalformedText) {
    for (const char* bad : {"Zg=", "Z===", "Zm9v!A==", "Zg==Zg==", "Zm 9v"})
        EXPECT_FALSE(base64::decode(bad).has_value()) << bad;
}

}  // namespace
}  // namespace zavren
