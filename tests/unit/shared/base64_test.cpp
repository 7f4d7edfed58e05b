#include "shared/base64.h"

#include <gtest/gtest.h>

namespace zavren {
namespace {

TEST(Base64, KnownVectorsMalformedTextAndMoreThanOneSlice) {
    const std::pair<std::string, std::string> rows[] = {{"", ""},
                                                        {"f", "Zg=="},
                                                        {"fo", "Zm8="},
                                                        {"foo", "Zm9v"},
                                                        {std::string("\xff\xfe\x00", 3), "//4A"}};
    for (const auto& [raw, enc] : rows) {
        EXPECT_EQ(base64::encode(raw), enc);
        EXPECT_EQ(base64::decode(enc), raw);
    }
    for (const char* bad : {"Zg=", "Z===", "Zm9v!A==", "Zg==Zg==", "Zm 9v"})
        EXPECT_FALSE(base64::decode(bad).has_value()) << bad;
    const std::string large(3 * (1u << 20) + 5, '\xfe');  // past the first slice
    EXPECT_EQ(base64::decode(base64::encode(large)), large);
}

}  // namespace
}  // namespace zavren
