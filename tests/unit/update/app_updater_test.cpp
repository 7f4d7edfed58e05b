#include "update/app_updater.h"

#include <gtest/gtest.h>

#include "fakes/fake_dispatcher.h"
#include "fakes/fake_http.h"
#include "fakes/fake_ports.h"

namespace zavren {
namespace {

const std::string BASE = "http://127.0.0.1:9/downloads/zavren-ai";
const std::string LATEST_URL = BASE + "/latest.json";

struct UpdaterTest : ::testing::Test {
    fakes::FakeDispatcher dispatcher;
    fakes::FakeHttpClient http{dispatcher};
    fakes::FakeDesktop desktop;
    fakes::FakeDefaults defaults;
    AppUpdater updater{dispatcher, http, desktop, defaults, BASE};

    void answer(int status, const std::string& body) { http.respondAlways(status, body); }
    void check(bool interactive) {
        updater.check(interactive);
        dispatcher.runUntilIdle();
    }
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& a : desktop.alerts) out.push_back(a.message);
        return out;
    }
};

TEST_F(UpdaterTest, RequestsTheRecordUnderTheBaseWithoutCache) {
    answer(200, R"({"version":"0.12.0","url":"https://x/y"})");
    check(true);
    ASSERT_EQ(http.count(), 1u);
    EXPECT_EQ(http.request(0).url, LATEST_URL);
    EXPECT_EQ(http.request(0).method, "GET");
    EXPECT_EQ(http.request(0).timeout, seconds(15));
    EXPECT_EQ(http.request(0).cache, HttpRequest::CachePolicy::reloadIgnoringLocalCache);
    EXPECT_TRUE(http.request(0).headers.empty());
}

TEST_F(UpdaterTest, NewerVersionPromptsWithNotesAndTheThreeButtons) {
    answer(200, R"({"version":"0.12.1","notes":"修复若干问题","url":"https://x/y"})");
    check(false);
    ASSERT_EQ(desktop.alerts.size(), 1u);
    const Alert& a = desktop.alerts[0];
    EXPECT_EQ(a.message, "ZAVREN.AI 0.12.1 可用");
    EXPECT_EQ(a.informative, "修复若干问题\n\n当前版本 v0.12.0。");
    EXPECT_EQ(a.buttons, (std::vector<std::string>{"下载新版", "跳过此版本", "以后再说"}));
    EXPECT_EQ(desktop.activations, 1);

    // Without notes, a default sentence; a version skipped earlier hides only itself.
    defaults.setString(SKIPPED_VERSION_KEY, "0.12.1");
    answer(200, R"({"version":"0.13.0","url":"https://x/y"})");
    check(false);
    ASSERT_EQ(desktop.alerts.size(), 2u);
    EXPECT_EQ(desktop.alerts[1].informative, "新版本已发布。\n\n当前版本 v0.12.0。");
}

TEST_F(UpdaterTest, SkippedVersionSilencesOnlyTheSilentCheck) {
    answer(200, R"({"version":"0.12.1","url":"https://x/y"})");
    desktop.alertAnswers = {1};
    check(false);
    EXPECT_EQ(defaults.stringValue(SKIPPED_VERSION_KEY), "0.12.1");
    EXPECT_TRUE(desktop.openedUrls.empty());

    check(false);
    EXPECT_EQ(desktop.alerts.size(), 1u);

    check(true);
    ASSERT_EQ(desktop.alerts.size(), 2u);
    EXPECT_EQ(desktop.alerts[1].message, "ZAVREN.AI 0.12.1 可用");
}

TEST_F(UpdaterTest, NothingNewerOrNoRecordAnswersOnlyAnInteractiveCheck) {
    const std::string latest = "已是最新版本", failed = "检查更新失败";
    struct Case {
        int status;
        std::string body, message;
    };
    for (const Case& c :
         std::vector<Case>{{200, R"({"url":"https://x","version":"0.12.0"})", latest},
                           {200, R"({"url":"https://x","version":"0.11.9"})", latest},
                           {200, R"({"url":"https://x","version":"0.9.99"})", latest},
                           {200, "{}", failed},
                           {404, "<html><body>Not Found</body></html>", failed},
                           {200, R"({"version":"0.13.0"})", failed},
                           {200, R"({"version":13,"url":"https://x"})", failed},
                           {200, R"({"version":"0.13.0","url":"https://x","notes":5})", failed},
                           {200, "", failed}}) {
        SCOPED_TRACE(c.body);
        desktop.alerts.clear();
        answer(c.status, c.body);
        check(false);
        EXPECT_TRUE(desktop.alerts.empty());
        check(true);
        ASSERT_EQ(desktop.alerts.size(), 1u);
        EXPECT_EQ(desktop.alerts[0].message, c.message);
        EXPECT_EQ(desktop.alerts[0].informative, c.message == latest
                                                     ? "ZAVREN.AI v0.12.0 就是最新的公测版。"
                                                     : "暂时连不上更新服务,稍后再试。");
        EXPECT_EQ(desktop.alerts[0].buttons, std::vector<std::string>{"好"});
    }
    EXPECT_TRUE(defaults.values.empty());
}

TEST_F(UpdaterTest, TransportFailureAndTimeOut) {
    updater.check(true);
    http.fail(0, HttpError::Kind::cannotConnect, "无法连接服务器");
    dispatcher.runUntilIdle();
    EXPECT_EQ(messages(), std::vector<std::string>{"检查更新失败"});

    updater.check(true);  // never answered: the 15 s idle time-out ends it
    dispatcher.advance(14.9);
    EXPECT_EQ(desktop.alerts.size(), 1u);
    dispatcher.advance(0.2);
    EXPECT_EQ(messages(), (std::vector<std::string>{"检查更新失败", "检查更新失败"}));
}

TEST_F(UpdaterTest, DownloadOpensPageThenUrlThenTheBase) {
    const std::string deb = R"({"version":"1.0","url":"https://d/z.deb"})";
    struct Case {
        std::string body;
        std::vector<std::string> opened;
        int answer = 0;
    };
    std::vector<Case> cases = {
        {R"({"version":"1.0","url":"https://d/z.deb","page":"https://p/release"})",
         {"https://p/release"}},
        {deb, {"https://d/z.deb"}},
        {R"({"version":"1.0","url":"https://d/z.deb","page":null})", {"https://d/z.deb"}},
        {R"({"version":"1.0","url":"https://d/z.deb","page":"not a url"})", {BASE}},
        {R"({"version":"1.0","url":"file:///etc/passwd"})", {BASE}},
        {R"({"version":"1.0","url":""})", {BASE}},
        {deb, {}, 2},   // later
        {deb, {}, -1},  // the alert closed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        desktop.openedUrls.clear();
        answer(200, c.body);
        desktop.alertAnswers = {c.answer};
        check(true);
        EXPECT_EQ(desktop.alerts.back().message, "ZAVREN.AI 1.0 可用");
        EXPECT_EQ(desktop.openedUrls, c.opened);
    }
    EXPECT_TRUE(defaults.values.empty());
}

TEST_F(UpdaterTest, ChecksInFlightEachShowTheirOwnAlert) {
    updater.check(true);
    updater.check(true);
    http.complete(1, HttpResponse{200, R"({"version":"0.1","url":"https://x"})", {}});
    http.complete(0, HttpResponse{200, "{}", {}});
    dispatcher.runUntilIdle();
    EXPECT_EQ(messages(), (std::vector<std::string>{"已是最新版本", "检查更新失败"}));
}

TEST(UpdaterLifetime, AnswerAfterTheUpdaterIsGoneDoesNothing) {
    fakes::FakeDispatcher dispatcher;
    fakes::FakeHttpClient http{dispatcher};
    fakes::FakeDesktop desktop;
    fakes::FakeDefaults defaults;
    {
        AppUpdater updater{dispatcher, http, desktop, defaults, BASE};
        updater.check(true);
    }
    http.complete(0, HttpResponse{200, "{}", {}});
    dispatcher.runUntilIdle();
    EXPECT_TRUE(desktop.alerts.empty());
}

}  // namespace
}  // namespace zavren
