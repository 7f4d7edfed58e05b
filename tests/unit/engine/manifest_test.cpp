#include "engine/manifest.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace zavren {
namespace {

using Asset = EngineManifest::Asset;
const std::string TOP = R"("version":"1.2","url":"https://d/e.tar.gz","sha256":"aa","size":10)";
const Asset TOP_ASSET{"https://d/e.tar.gz", "aa", 10};

std::string obj(const std::string& body) {
    return "{" + body + "}";
}

TEST(Manifest, EffectivePicksOnlyThisArchitecture) {
    auto plain = EngineManifest::decode(obj(TOP + R"(,"extra":[1,{"x":null}])"));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->version, "1.2");
    EXPECT_EQ((Asset{plain->url, plain->sha256, plain->size}), TOP_ASSET);
    EXPECT_FALSE(plain->platforms);

    const std::string mine =
        R"("platforms":{"linux-x86_64":{"url":"u-x","sha256":"s-x","size":7},"arm64":{"url":"u-a","sha256":"s-a","size":8}})";
    struct Case {
        std::string extra;
        Asset want;
    } cases[] = {
        {"", TOP_ASSET},
        {"," + mine, {"u-x", "s-x", 7}},
        {R"(,"platforms":{"arm64":{"url":"u-a","sha256":"s-a","size":8}})", TOP_ASSET},
        {R"(,"platforms":{})", TOP_ASSET},
        {R"(,"platforms":null)", TOP_ASSET},
    };
    for (const auto& c : cases) {
        auto m = EngineManifest::decode(obj(TOP + c.extra));
        ASSERT_TRUE(m) << c.extra;
        EXPECT_EQ(m->effective("linux-x86_64"), c.want) << c.extra;
    }
    auto m = EngineManifest::decode(obj(TOP + "," + mine));
    EXPECT_EQ(m->effective("arm64"), (Asset{"u-a", "s-a", 8}));
    EXPECT_EQ(m->effective("riscv"), TOP_ASSET);
    EXPECT_EQ(m->effective(), (Asset{"u-x", "s-x", 7}));
}

TEST(Manifest, SizesAreWholeNumbersWithin64Bits) {
    struct Case {
        std::string size;
        std::optional<std::int64_t> want;
    } cases[] = {
        {"0", 0},
        {"-3", -3},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},   // fits uint64 only
        {"18446744073709551616", std::nullopt},  // beyond uint64: parsed as a double
        {"1000.0", 1000},
        {"1e3", 1000},
    };
    for (const auto& c : cases) {
        auto m =
            EngineManifest::decode(obj(R"("version":"1","url":"u","sha256":"s","size":)" + c.size));
        EXPECT_EQ(m ? std::optional(m->size) : std::nullopt, c.want) << c.size;
    }
    for (const char* size : {"1.5", "1e300", "\"10\"", "true", "null", "[10]"})
        EXPECT_FALSE(EngineManifest::decode(
            obj(std::string(R"("version":"1","url":"u","sha256":"s","size":)") + size)))
            << size;
}

TEST(Manifest, AnythingMissingMistypedOrAmbiguousIsUndecodable) {
    const std::string fullX86 = R"("platforms":{"linux-x86_64":{"url":"u","sha256":"s","size":1}})";
    const std::string bad[] = {
        obj(R"("url":"u","sha256":"s","size":1)"), obj(R"("version":"1","sha256":"s","size":1)"),
        obj(R"("version":"1","url":"u","size":1)"),
        // the platform entry being complete does not excuse the top level
        obj(R"("version":"1","url":"u","sha256":"s",)" + fullX86),
        obj(R"("version":"1","url":"u","sha256":"s","size":"1",)" + fullX86),
        obj(R"("version":1,"url":"u","sha256":"s","size":1)"),
        obj(R"("version":"1","url":null,"sha256":"s","size":1)"),
        obj(R"("Version":"1","url":"u","sha256":"s","size":1)"),  // keys are exact
        obj(TOP + R"(,"platforms":{"linux-x86_64":{"url":"u","size":1}})"),
        obj(TOP + R"(,"platforms":{"arm64":{"url":"u","sha256":"s","size":1.25}})"),
        obj(TOP + R"(,"platforms":{"arm64":null})"), obj(TOP + R"(,"platforms":[])"),
        obj(TOP + R"(,"platforms":"x")"), obj(TOP + R"(,"sha256":"bb")"),
        obj(TOP + R"(,"platforms":{"a":{"url":"u","sha256":"s","size":1,"size":2}})"), "", "null",
        "[]", "\"x\"", "42", obj(TOP).substr(0, 20), obj(TOP) + "x",
        "{\"version\":\"\xff\",\"url\":\"u\",\"sha256\":\"s\",\"size\":1}"};
    for (const auto& b : bad) EXPECT_FALSE(EngineManifest::decode(b)) << b;
    EXPECT_TRUE(EngineManifest::decode("  \n" + obj(TOP) + "\n"));
}

// Random mutations of a valid record and random bytes: never a crash, and whatever
// decodes still yields an asset.
TEST(Manifest, RandomInputNeverCrashes) {
    const std::string seed = obj(
        TOP +
        R"(,"platforms":{"linux-x86_64":{"url":"u","sha256":"s","size":7},"z":{"url":"v","sha256":"t","size":2}})");
    std::mt19937 rng(12345);
    using namespace std::string_literals;
    const std::string alphabet = "{}[]\":,0123456789.eE+-nultrfasx\\ \xff\x00"s;
    int decoded = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string s = seed;
        for (int e = 0, edits = 1 + int(rng() % 4); e < edits && !s.empty(); ++e) {
            std::size_t pos = rng() % s.size();
            char c = alphabet[rng() % alphabet.size()];
            switch (rng() % 3) {
                case 0:
                    s[pos] = c;
                    break;
                case 1:
                    s.insert(pos, 1, c);
                    break;
                default:
                    s.erase(pos, 1);
            }
        }
        if (auto m = EngineManifest::decode(s)) {
            ++decoded;
            (void)m->effective();
        }
    }
    for (int i = 0; i < 2000; ++i) {
        std::string s(rng() % 64, '\0');
        for (auto& ch : s) ch = static_cast<char>(rng());
        EXPECT_FALSE(EngineManifest::decode(s));
    }
    // Some mutations (e.g. inside a string value) keep the record valid.
    EXPECT_GT(decoded, 0);
    // Deep nesting in an ignored key is handled without running out of stack.
    std::string deep = obj(TOP + ",\"x\":" + std::string(100000, '[') + std::string(100000, ']'));
    EXPECT_TRUE(EngineManifest::decode(deep));
}

}  // namespace
}  // namespace zavren
