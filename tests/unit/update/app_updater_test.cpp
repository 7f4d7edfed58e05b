#include "update/app_updater.h"

#include <gtest/gtest.h>

#include "fakes/fake_dispatcher.h"
#include "fakes/fake_http.h"
#include "fakes/fake_ports.h"
#include "platform/copied_address.h"
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
    fakes::FakePasteboard pasteboard;
    fakes::FakeDefaults defaults;
    std::unique_ptr<AppUpdater> updater =
        std::make_unique<AppUpdater>(d, http, desktop, pasteboard, defaults, BASE);

    // What the user saw: "-" nothing, "prompt" the three-button offer, else the message.
    std::string check(bool interactive, int status, const std::string& body) {
        http.respondAlways(status, body);
        desktop.alerts.clear();
        desktop.activations = 0;
        updater->check(interactive);
        d.runUntilIdle();
        if (desktop.alerts.empty()) return "-";
        EXPECT_EQ(std::size_t(desktop.activations), desktop.alerts.size())
            << "every alert comes to the front";
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

// No browser starts: the address goes on the clipboard and is shown. Only a plain web
// address from the record is taken, else the downloads base.
TEST_F(UpdaterTest, DownloadCopiesThePageElseTheFileElseTheBaseAndNothingAfterTheUpdaterIsGone) {
    const std::string longest = "https://p/" + std::string(UPDATE_MAX_ADDRESS - 10, 'a');
    for (auto [page, copied] :
         {std::pair<std::string, std::string>{R"("https://p/r")", "https://p/r"},
          {"null", "https://d/z"},
          {R"("file:///etc/passwd")", BASE},
          {R"("https://p/\u202Egpj.exe")", BASE},
          {'"' + longest + '"', longest},
          {'"' + longest + "a\"", BASE}}) {
        desktop.alertAnswers = {0};
        check(true, 200, R"({"version":"1.0","url":"https://d/z","page":)" + page + "}");
        EXPECT_EQ(pasteboard.contents, (Pasteboard::Formats{{PASTEBOARD_TEXT_TYPE, copied}}));
        EXPECT_EQ(pasteboard.content, Pasteboard::Content::copied);
        EXPECT_EQ(desktop.alerts.back().message, "下载地址已复制到剪贴板");
        EXPECT_EQ(desktop.alerts.back().informative, copied + "\n\n" + PASTE_IN_BROWSER);
    }
    updater->check(true);
    updater.reset();  // an answer for an updater that is gone does nothing
    d.runUntilIdle();
    EXPECT_EQ(desktop.alerts.size(), 2u);
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
