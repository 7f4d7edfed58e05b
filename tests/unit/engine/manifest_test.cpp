#include "engine/manifest.h"

#include <gtest/gtest.h>

namespace zavren {
namespace {

using Asset = EngineManifest::Asset;
const std::string TOP = R"("version":"1.2","url":"https://d/e.tar.gz","sha256":"aa","size":10)";
const Asset TOP_ASSET{"https://d/e.tar.gz", "aa", 10};

std::string obj(const std::string& body) {
    return "{" + body + "}";
}

TEST(Manifest, EffectivePicksOnlyThisArchitecture) {
    const std::string both =
        R"(,"platforms":{"linux-x86_64":{"url":"u-x","sha256":"s-x","size":7},"arm64":{"url":"u-a","sha256":"s-a","size":8}})";
    // clang-format off
    const std::pair<std::string, Asset> rows[] = {
        {R"(,"extra":[1,{"x":null}])", TOP_ASSET}, {both, {"u-x", "s-x", 7}},
        {R"(,"platforms":{"arm64":{"url":"u-a","sha256":"s-a","size":8}})", TOP_ASSET},
        {R"(,"platforms":null)", TOP_ASSET}};
    // clang-format on
    for (const auto& [extra, want] : rows) {
        auto m = EngineManifest::decode(obj(TOP + extra));
        ASSERT_TRUE(m) << extra;
        EXPECT_EQ(m->version, "1.2");
        EXPECT_EQ(m->effective("linux-x86_64"), want) << extra;
    }
    EXPECT_EQ(EngineManifest::decode(obj(TOP + both))->effective("arm64"),
              (Asset{"u-a", "s-a", 8}));
}

TEST(Manifest, SizesAreWholeNumbersWithin64Bits) {
    // clang-format off
    const std::pair<std::string, std::optional<std::int64_t>> rows[] = {
        {"0", 0}, {"9223372036854775807", INT64_MAX}, {"-9223372036854775808", INT64_MIN},
        {"1000.0", 1000}, {"1e3", 1000}, {"9007199254740992.0", 9007199254740992}, {"9223372036854775808", std::nullopt},
        {"1.5", std::nullopt}, {"1e300", std::nullopt}, {"\"10\"", std::nullopt}, {"null", std::nullopt}};
    // clang-format on
    for (const auto& [size, want] : rows) {
        auto m =
            EngineManifest::decode(obj(R"("version":"1","url":"u","sha256":"s","size":)" + size));
        EXPECT_EQ(m ? std::optional(m->size) : std::nullopt, want) << size;
    }
}

TEST(Manifest, AnythingMissingMistypedOrAmbiguousIsUndecodable) {
    // clang-format off
    const std::string bad[] = {
        obj(R"("url":"u","sha256":"s","size":1)"), obj(R"("version":"1","sha256":"s","size":1)"),
        obj(R"("version":"1","url":"u","size":1)"), obj(R"("version":1,"url":"u","sha256":"s","size":1)"),
        obj(R"("version":"1","url":"u","sha256":"s","platforms":{"linux-x86_64":{"url":"u","sha256":"s","size":1}})"),
        obj(TOP + R"(,"platforms":{"linux-x86_64":{"url":"u","size":1}})"),
        obj(TOP + R"(,"platforms":{"arm64":null})"), obj(TOP + R"(,"platforms":[])"),
        obj(TOP + R"(,"sha256":"bb")"), obj(TOP + R"(,"platforms":{"a":{"url":"u","sha256":"s","size":1,"size":2}})"),
        "", "[]", obj(TOP) + "x", "{\"version\":\"\xff\",\"url\":\"u\",\"sha256\":\"s\",\"size\":1}"};
    // clang-format on
    for (const auto& b : bad) EXPECT_FALSE(EngineManifest::decode(b)) << b;
    // Deep nesting in an ignored key does not run out of stack.
    EXPECT_TRUE(EngineManifest::decode(
        obj(TOP + ",\"x\":" + std::string(100000, '[') + std::string(100000, ']'))));
}

}  // namespace
}  // namespace zavren
