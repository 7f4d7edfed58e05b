#include "update/update_base.h"

#include <gtest/gtest.h>

#include "update/app_latest.h"
#include "update/url.h"
#include "zavren/build_config.h"

namespace zavren {
namespace {

TEST(UpdateBase, EnvironmentReplacesTheDefaultOnlyWithAWebAddress) {
    const std::string def = ZAVREN_UPDATE_BASE_DEFAULT;
    struct Case {
        std::optional<std::string> env;
        std::string base;
    };
    for (const Case& c : std::vector<Case>{
             {std::nullopt, def},
             {"http://127.0.0.1:8080/dl", "http://127.0.0.1:8080/dl"},
             {"HTTPS://mirror.example/zavren/", "HTTPS://mirror.example/zavren/"},
             {"", def},
             {"not a url", def},
             {"ftp://mirror/x", def},
             {"/srv/downloads", def},
             {"http://", def},
             {" https://mirror.example", def},  // taken as is, so the blank makes it unusable
             {"https://mirror.example/a b", def},
             {"http://host:port/", def},
         }) {
        SCOPED_TRACE(c.env.value_or("(unset)"));
        EXPECT_EQ(resolveUpdateBase(c.env), c.base);
    }
    EXPECT_TRUE(isHttpUrl(def));
    EXPECT_EQ(def.rfind("https://", 0), 0u);
    EXPECT_TRUE(def.ends_with("/downloads/zavren-ai"));
}

TEST(Url, AppendsExactlyOneComponent) {
    EXPECT_EQ(appendPathComponent("https://h/downloads/zavren-ai", "latest.json"),
              "https://h/downloads/zavren-ai/latest.json");
    EXPECT_EQ(appendPathComponent("https://h/downloads/zavren-ai/", "engine.json"),
              "https://h/downloads/zavren-ai/engine.json");
    EXPECT_EQ(appendPathComponent("https://h", "latest.json"), "https://h/latest.json");
    EXPECT_EQ(appendPathComponent("https://h/dl?token=1", "latest.json"),
              "https://h/dl/latest.json?token=1");
}

TEST(Url, RecognisesAbsoluteWebAddresses) {
    for (const char* url :
         {"http://127.0.0.1:8765/", "https://user@h.example:443/p?q#f", "http://[::1]:8080/x"})
        EXPECT_TRUE(isHttpUrl(url)) << url;
    for (const char* url : {"http://[::1", "https:///path", "javascript:alert(1)",
                            "file:///etc/passwd", "https://h/\nx"})
        EXPECT_FALSE(isHttpUrl(url)) << url;
}

TEST(AppLatest, DecodesKnownKeysAndRoundTrips) {
    auto r = AppLatest::decode(
        R"({"version":"0.13.0","notes":"n","url":"https://u","page":"https://p","extra":[1]})");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->version, "0.13.0");
    EXPECT_EQ(r->notes, "n");
    EXPECT_EQ(r->page, "https://p");
    EXPECT_EQ(AppLatest::decode(r->encode()), r);

    auto minimal = AppLatest::decode(R"({"version":"1","url":"u"})");
    ASSERT_TRUE(minimal);
    EXPECT_EQ(minimal->encode(), R"({"url":"u","version":"1"})");
}

TEST(AppLatest, RejectsWhatIsNotARecord) {
    for (const char* body :
         {"", "null", "[]", "\"x\"", "{", R"({"version":"1"})", R"({"url":"u"})",
          R"({"version":null,"url":"u"})", R"({"version":"1","url":"u","page":7})"}) {
        SCOPED_TRACE(body);
        EXPECT_FALSE(AppLatest::decode(body));
    }
}

}  // namespace
}  // namespace zavren
