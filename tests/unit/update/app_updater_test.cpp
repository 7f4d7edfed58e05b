#include "update/app_updater.h"

#include <gtest/gtest.h>

#include "fakes/fake_dispatcher.h"
#include "fakes/fake_http.h"
#include "fakes/fake_ports.h"
#include "shared/url.h"
#include "update/update_base.h"
#include "zavren/build_config.h"

namespace zavren {
namespace {

const std::string BASE = "http://127.0.0.1:9/dl";
const std::string FAILED = "检查更新失败";

struct UpdaterTest : ::testing::Test {
    fakes::FakeDispatcher d;
    fakes::FakeHttpClient http{d};
    fakes::FakeDesktop desktop;
    fakes::FakeDefaults defaults;
    std::unique_ptr<AppUpdater> updater =
        std::make_unique<AppUpdater>(d, http, desktop, defaults, BASE);

    // What the user saw: "-" nothing, "prompt" the three-button offer, else the message.
    std::string check(bool interactive, int status, const std::string& body) {
        http.respondAlways(status, body);
        desktop.alerts.clear();
        desktop.activations = 0;
        updater->check(interactive);
        d.runUntilIdle();
        if (desktop.alerts.empty()) return "-";
        EXPECT_EQ(desktop.activations, 1) << "every alert comes to the front";
        return desktop.alerts.back().buttons.size() == 3 ? "prompt" : desktop.alerts.back().message;
    }
};

TEST_F(UpdaterTest, OnlyANewerVersionPromptsAndOnlyAnInteractiveCheckReportsTheRest) {
    const std::string upToDate = check(true, 200, R"({"version":"0.12.0","url":"https://x"})");
    EXPECT_NE(upToDate, FAILED);
    const HttpRequest& r = http.request(0);  // fresh, with a bounded body and time
    EXPECT_EQ(std::tuple(r.url, r.deadline, r.maxBodyBytes),
              std::tuple(BASE + "/latest.json", seconds(30), std::size_t(1) << 20));
    struct Case {
        int status;
        std::string body, interactive, silent;
    };
    for (const Case& c :
         std::vector<Case>{{200, R"({"version":"0.12.1","url":"https://x"})", "prompt", "prompt"},
                           {200, R"({"version":"0.9.99","url":"https://x"})", upToDate, "-"},
                           {404, R"({"version":"9","url":"https://x"})", "prompt", "prompt"},
                           {200, "<html>Not Found</html>", FAILED, "-"},
                           {200, R"({"version":"0.13.0"})", FAILED, "-"},
                           {200, R"({"url":"https://x"})", FAILED, "-"},
                           {200, R"({"version":"9","url":"u","notes":5})", FAILED, "-"},
                           {200, "", FAILED, "-"}}) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(check(true, c.status, c.body), c.interactive);
        EXPECT_EQ(check(false, c.status, c.body), c.silent);
    }
    EXPECT_TRUE(defaults.values.empty());
}

TEST_F(UpdaterTest, ARecordCutOffAtTheSizeLimitCountsAsNone) {
    updater->check(true);
    http.complete(0, {200, R"({"version":"9","url":"https://x"})",
                      HttpError{HttpError::Kind::tooLarge, "过大"}});
    d.runUntilIdle();
    EXPECT_EQ(desktop.alerts.at(0).message, FAILED);
}

TEST_F(UpdaterTest, SkippingSilencesOnlyTheSilentCheckForThatVersion) {
    const std::string v1 = R"({"version":"0.12.1","url":"https://x"})";
    desktop.alertAnswers = {1};
    check(false, 200, v1);
    EXPECT_EQ(check(false, 200, v1), "-");
    EXPECT_EQ(check(true, 200, v1), "prompt");
    EXPECT_EQ(check(false, 200, R"({"version":"0.12.2","url":"https://x"})"), "prompt");
}

TEST_F(UpdaterTest, DownloadOpensThePageElseTheFileElseTheBaseAndNothingAfterTheUpdaterIsGone) {
    for (auto [extra, opened] : {std::pair{R"(,"page":"https://p/r")", "https://p/r"},
                                 {R"(,"page":null)", "https://d/z"},
                                 {R"(,"page":"file:///etc/passwd")", BASE.c_str()}}) {
        desktop.alertAnswers = {0};
        check(true, 200, std::string(R"({"version":"1.0","url":"https://d/z")") + extra + "}");
        EXPECT_EQ(desktop.openedUrls.back(), opened);
    }
    updater->check(true);
    updater.reset();  // an answer for an updater that is gone does nothing
    d.runUntilIdle();
    EXPECT_EQ(desktop.alerts.size(), 1u);
}

TEST(UpdateBase, AWebAddressReplacesTheDefaultAnythingElseWarns) {
    EXPECT_EQ(resolveUpdateBase(std::nullopt).url, ZAVREN_UPDATE_BASE_DEFAULT);
    EXPECT_FALSE(resolveUpdateBase(std::nullopt).warning);
    EXPECT_EQ(resolveUpdateBase("HTTP://m:8080/z/").url, "HTTP://m:8080/z/");
    for (const char* bad : {"", "ftp://m/x", " https://m", "http://h:port/", "http://[::1"}) {
        EXPECT_EQ(resolveUpdateBase(bad).url, ZAVREN_UPDATE_BASE_DEFAULT) << bad;
        EXPECT_TRUE(resolveUpdateBase(bad).warning) << bad;
    }
    EXPECT_EQ(appendPathComponent("https://h/dl?t=1", "a.json"), "https://h/dl/a.json?t=1");
}

}  // namespace
}  // namespace zavren
