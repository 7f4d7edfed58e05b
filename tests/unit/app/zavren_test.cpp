#include "app/zavren.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app_fakes.h"
#include "shared/files.h"

namespace zavren {
namespace {

using testing::ShellWorld;
using Strings = std::vector<std::string>;

class ZavrenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() /
                ("zavren-app-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(root_ / "run");
        paths_ = Paths::under(root_.string());
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    std::shared_ptr<Zavren> make() {
        app_ = std::make_shared<Zavren>(w.platform, paths_, w.st, w.services());
        return app_;
    }
    std::shared_ptr<Zavren> launch() {
        make()->applicationDidFinishLaunching();
        return app_;
    }
    void writeWav() { std::ofstream(paths_.wav) << "RIFF"; }
    bool wavExists() const { return files::exists(paths_.wav); }
    long noted(const std::string& call) const {
        return std::count(w.journal.begin(), w.journal.end(), call);
    }
    std::vector<std::string> titles() {
        Strings out;
        for (const auto& item : w.statusItem.open()) out.push_back(item.title);
        return out;
    }
    const MenuItem* find(const std::vector<MenuItem>& items, const std::string& title) {
        for (const auto& i : items)
            if (i.title == title) return &i;
        return nullptr;
    }
    void choose(const std::string& title) {
        auto items = w.statusItem.open();
        const MenuItem* item = find(items, title);
        ASSERT_NE(item, nullptr) << title;
        ASSERT_TRUE(item->choose) << title;
        item->choose();
    }

    ShellWorld w;
    std::filesystem::path root_;
    Paths paths_;
    std::shared_ptr<Zavren> app_;
};

TEST_F(ZavrenTest, StartUpRunsEveryStepInOrderThenHintsOnceAndChecksForUpdates) {
    writeWav();
    launch();
    EXPECT_EQ(w.journal,
              (Strings{"statusItem.show", "statusItem.menu", "panel.setup", "microphone.request",
                       "trust.prompt", "hotkey.install", "server.onState", "installer.onDone",
                       "server.resolve", "server.start", "server.resolve", "app.sigterm"}));
    EXPECT_FALSE(wavExists());
    EXPECT_EQ(w.statusItem.icons.front(), (StatusIcon{StatusIcon::Tint::black, true}));
    EXPECT_EQ(w.lock.acquires, 1);
    EXPECT_TRUE(w.log.lines.empty());

    // Then the privacy hint, once, 2 s in for 5 s, and the silent update check at 8 s.
    w.dispatcher.advance(1.9);
    EXPECT_TRUE(w.dictation.hints.empty());
    w.dispatcher.advance(0.1);
    EXPECT_EQ(w.dictation.hints,
              (std::vector<std::pair<std::string, double>>{{PRIVACY_HINT, 5.0}}));
    w.dispatcher.advance(5.99);
    EXPECT_EQ(noted("update.check:silent"), 0);
    w.dispatcher.advance(60.0);
    EXPECT_EQ(noted("update.check:silent"), 1);
    EXPECT_EQ(w.dictation.hints.size(), 1u);
}

TEST_F(ZavrenTest, WithoutEngineTheFirstRunWindowOpensAndTheHintIsNeverShown) {
    w.server.available = false;
    w.st.setEngine(EngineState::failed);
    launch();
    EXPECT_EQ(w.windows.calls, Strings{"onboarding"});
    EXPECT_EQ(w.windows.installer, &w.installer);
    EXPECT_EQ(w.st.engine(), EngineState::starting);
    EXPECT_EQ(noted("server.start"), 0);
    EXPECT_EQ(w.defaults.boolValue(PRIVACY_HINT_KEY), true);

    w.dispatcher.advance(10.0);
    EXPECT_TRUE(w.dictation.hints.empty());

    // The next launch, now with an engine, finds the key already set.
    w.server.available = true;
    ShellWorld second;
    second.defaults.values = w.defaults.values;
    auto next = std::make_shared<Zavren>(second.platform, paths_, second.st, second.services());
    next->applicationDidFinishLaunching();
    second.dispatcher.advance(10.0);
    EXPECT_TRUE(second.dictation.hints.empty());
}

TEST_F(ZavrenTest, PrivacyHintIsDroppedForGoodWhenDictationHasBegun) {
    for (int variant = 0; variant < 2; ++variant) {
        ShellWorld world;
        auto app = std::make_shared<Zavren>(world.platform, paths_, world.st, world.services());
        app->applicationDidFinishLaunching();
        if (variant == 0)
            world.dictation.isRecording = true;
        else
            world.st.setState(RecState::transcribing);
        world.dispatcher.advance(30.0);
        EXPECT_TRUE(world.dictation.hints.empty()) << variant;
        EXPECT_EQ(world.defaults.boolValue(PRIVACY_HINT_KEY), true);
    }
}

TEST_F(ZavrenTest, RefusedInstanceLogsOtherPidsAndLeavesTheRunningOneAlone) {
    w.lock.others = {412, static_cast<int>(::getpid()), 977};
    writeWav();
    launch();
    ASSERT_EQ(w.log.lines.size(), 1u);
    EXPECT_EQ(w.log.lines[0], "ZAVREN: 已有实例运行(pid [412, 977]),本实例退出");
    EXPECT_EQ(w.journal, Strings{"app.terminate"});
    EXPECT_FALSE(app_->launched());

    // The event loop then ends and the termination steps run.
    app_->applicationWillTerminate();
    EXPECT_EQ(w.journal, Strings{"app.terminate"});
    EXPECT_TRUE(wavExists()) << "the running instance's recording was removed";
    EXPECT_FALSE(w.statusItem.shown);
    EXPECT_EQ(w.panel.setups, 0);
    EXPECT_EQ(w.hotkey.installs, 0);
    w.dispatcher.advance(30.0);
    EXPECT_EQ(w.journal, Strings{"app.terminate"});
}

TEST_F(ZavrenTest, QuitAndSigtermStopTheEngineAndRemoveTheRecording) {
    launch();
    writeWav();
    auto items = w.statusItem.open();
    w.journal.clear();
    find(items, "退出 ZAVREN")->choose();
    EXPECT_EQ(w.journal, Strings{"app.terminate"});
    app_->applicationWillTerminate();
    EXPECT_EQ(w.journal, (Strings{"app.terminate", "server.stopAndWait"}));
    EXPECT_FALSE(wavExists());

    writeWav();
    w.journal.clear();
    ASSERT_TRUE(w.application.sigterm);
    w.application.sigterm();
    EXPECT_EQ(w.journal, (Strings{"server.stopAndWait", "app.exit:0"}));
    EXPECT_FALSE(wavExists());

    // With the delegate gone the handler still cleans up and exits.
    writeWav();
    w.journal.clear();
    app_.reset();
    w.application.sigterm();
    EXPECT_EQ(w.journal, Strings{"app.exit:0"});
    EXPECT_FALSE(wavExists());
}

TEST_F(ZavrenTest, HotkeyEventsReachTheDictationController) {
    launch();
    w.hotkey.send(61, 0x80000);
    w.hotkey.send(58, 0);
    ASSERT_EQ(w.dictation.events.size(), 2u);
    EXPECT_EQ(w.dictation.events[0].keyCode, 61);
    EXPECT_EQ(w.dictation.events[0].flags, 0x80000u);
    app_.reset();
    w.hotkey.send(61, 0);
    EXPECT_EQ(w.dictation.events.size(), 2u);
}

TEST_F(ZavrenTest, IconFollowsEngineStateAndRecording) {
    launch();
    w.server.onState(EngineState::failed);
    EXPECT_EQ(w.st.engine(), EngineState::failed);
    EXPECT_EQ(w.statusItem.icon, (StatusIcon{StatusIcon::Tint::orange, false}));
    w.dictation.isRecording = true;
    w.st.setState(RecState::listening);
    EXPECT_EQ(w.statusItem.icon, (StatusIcon{StatusIcon::Tint::red, false}));
    w.dictation.isRecording = false;
    w.st.setState(RecState::transcribing);
    EXPECT_EQ(w.statusItem.icon, (StatusIcon{StatusIcon::Tint::orange, false}));
    w.server.onState(EngineState::ready);
    EXPECT_EQ(w.statusItem.icon, (StatusIcon{StatusIcon::Tint::black, true}));
}

TEST_F(ZavrenTest, InstallerCompletionStartsTheEngineAndClosesTheWindowLater) {
    w.server.available = false;
    launch();
    w.journal.clear();
    w.installer.onDone();
    EXPECT_EQ(w.journal, Strings{"server.start"});
    w.dispatcher.advance(0.79);
    EXPECT_EQ(w.journal, Strings{"server.start"});
    w.dispatcher.advance(0.01);
    EXPECT_EQ(w.journal, (Strings{"server.start", "windows.closeOnboarding"}));
}

TEST_F(ZavrenTest, MenuIsRebuiltOnEveryOpening) {
    launch();
    w.st.setEngine(EngineState::starting);
    EXPECT_EQ(titles()[1], "○  正在启动引擎…");
    w.st.setEngine(EngineState::ready);
    w.trust.trusted = false;
    auto t = titles();
    EXPECT_EQ(t[1], "●  引擎就绪 · 按住右 ⌥ 说话");
    EXPECT_EQ(t[2], "⚠  缺「辅助功能」权限,字落不进光标 — 点此授权");
    EXPECT_NE(std::find(t.begin(), t.end(), "重载术语词典(重启引擎)"), t.end());
    w.server.available = false;
    EXPECT_EQ(titles()[1], "◌  引擎未安装 — 点此安装");
    // Trust is asked without the prompt when the menu opens.
    EXPECT_EQ(w.trust.prompts, 1);
}

TEST_F(ZavrenTest, RetryAndReloadResetTheRestartCounterThenStart) {
    launch();
    w.st.setEngine(EngineState::failed);
    w.journal.clear();
    choose("⚠  引擎未启动 — 点此重试");
    EXPECT_EQ(w.journal, (Strings{"server.resolve", "trust.query", "server.restart"}));
    EXPECT_EQ(w.server.restarts, 0);
    w.st.setEngine(EngineState::ready);
    w.journal.clear();
    w.server.restarts = 2;
    choose("重载术语词典(重启引擎)");
    EXPECT_EQ(w.server.restarts, 0);
    EXPECT_EQ(w.journal.back(), "server.restart");
}

TEST_F(ZavrenTest, WindowTextAndAccessibilityCommands) {
    w.trust.trusted = false;
    launch();
    w.st.setEngine(EngineState::ready);
    choose("关于 ZAVREN.AI");
    w.server.version.reset();
    choose("关于 ZAVREN.AI");
    choose("隐私说明");
    EXPECT_EQ(w.windows.calls, (Strings{"about:1.0.0", "about:-", "privacy"}));

    w.journal.clear();
    choose("检查更新…");
    choose("术语词典…");
    EXPECT_EQ(noted("update.check:interactive"), 1);
    EXPECT_EQ(noted("text.openTerms"), 1);

    const int prompts = w.trust.prompts;
    choose("⚠  缺「辅助功能」权限,字落不进光标 — 点此授权");
    EXPECT_EQ(w.trust.prompts, prompts + 1);
    EXPECT_EQ(w.desktop.settingsOpened, 1);

    w.server.available = false;
    choose("◌  引擎未安装 — 点此安装");
    EXPECT_EQ(w.windows.calls.back(), "onboarding");
}

TEST_F(ZavrenTest, ToggleItnTwiceRestoresTheSwitchAndTheCheckMarkFollows) {
    launch();
    auto checkMark = [&] {
        auto items = w.statusItem.open();
        return find(items, "数字与格式书面化")->checked;
    };
    EXPECT_EQ(checkMark(), true);
    choose("数字与格式书面化");
    EXPECT_EQ(w.defaults.boolValue("zavren.itn.enabled"), false);
    EXPECT_EQ(checkMark(), false);
    choose("数字与格式书面化");
    EXPECT_EQ(w.defaults.boolValue("zavren.itn.enabled"), true);
    EXPECT_EQ(checkMark(), true);
}

TEST_F(ZavrenTest, ReinstallAsksFirstThenStopsRemovesAndDownloadsAgain) {
    launch();
    w.st.setEngine(EngineState::ready);
    w.journal.clear();
    w.desktop.alertAnswers = {1};
    choose("重新下载引擎…");
    ASSERT_EQ(w.desktop.alerts.size(), 1u);
    const Alert& a = w.desktop.alerts[0];
    EXPECT_EQ(a.message, "重新下载语音引擎?");
    EXPECT_EQ(a.informative, "将删除已安装的引擎并重新下载(约 1 GB)。用于引擎损坏或升级。");
    EXPECT_EQ(a.buttons, (Strings{"重新下载", "取消"}));
    EXPECT_EQ(w.desktop.activations, 1);
    EXPECT_EQ(w.journal, (Strings{"server.resolve", "trust.query"}));
    EXPECT_EQ(w.st.engine(), EngineState::ready);

    // Closing the dialogue any other way is no confirmation either.
    choose("重新下载引擎…");
    EXPECT_EQ(w.st.engine(), EngineState::ready);
    EXPECT_TRUE(w.windows.calls.empty());

    w.desktop.alertAnswers = {0};
    w.journal.clear();
    choose("重新下载引擎…");
    EXPECT_EQ(w.journal,
              (Strings{"server.resolve", "trust.query", "server.stop", "server.removeInstalled",
                       "windows.onboarding", "installer.start"}));
    EXPECT_EQ(w.st.engine(), EngineState::starting);
    EXPECT_EQ(titles()[1], "◌  引擎未安装 — 点此安装");
}

TEST_F(ZavrenTest, CallbacksDoNothingOnceTheDelegateIsGone) {
    w.server.available = false;
    launch();
    auto items = w.statusItem.open();
    app_.reset();
    w.journal.clear();
    w.installer.onDone();
    w.server.onState(EngineState::ready);
    for (const auto& item : items)
        if (item.choose) item.choose();
    w.dispatcher.advance(30.0);
    EXPECT_TRUE(w.journal.empty());
    EXPECT_TRUE(w.statusItem.open().empty());
    EXPECT_EQ(w.st.engine(), EngineState::starting);
}

}  // namespace
}  // namespace zavren
