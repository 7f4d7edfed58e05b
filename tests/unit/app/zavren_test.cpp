#include "app/zavren.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "engine/locator.h"
#include "fakes/fake_platform.h"
#include "shared/files.h"
#include "unit/engine/engine_layout.h"

namespace zavren {
namespace {

using namespace fakes;
const std::string BASE = "http://dl.test/zavren";

// The real engine supervisor, installer and update check over fake ports.
struct Shell : ::testing::Test, FakePlatform {
    test::TempDir tmp;
    Paths paths = Paths::under(tmp.path);
    AppState st;
    std::shared_ptr<ServerManager> server =
        ServerManager::create({d, http, procs, log, owners, paths, ""});
    EngineInstaller installer{d, http, paths.engineRoot, BASE};
    AppUpdater updater{d, http, desktop, pasteboard, defaults, BASE};
    FakePaster paster;
    std::shared_ptr<DictationController> dictation = DictationController::create(
        {st, d, http, recorders, paster, panel, paths.wav, paths.termsFile,
         [] { return EngineKind::llama; }, [](std::string s) { return s; }, [] { return true; }});
    std::vector<std::string> hints;
    AppState::Subscription hintsShown = st.subscribe([this](AppState::Field f) {
        if (f == AppState::Field::hint && st.hint()) hints.push_back(*st.hint());
    });
    std::shared_ptr<Zavren> app;

    void launch(bool withEngine = true) {
        if (withEngine) test::makeLlama(paths.engineRoot + "/engine-1.0");
        test::writeFile(paths.wav, "RIFF");
        ShellParts parts{server, installer, updater, dictation};
        parts.program = "/opt/zavren/bin/zavren";
        app = std::make_shared<Zavren>(platform, paths, st, std::move(parts));
        app->applicationDidFinishLaunching();
        d.runUntilIdle();
    }
    std::size_t requests(const std::string& file) const { return http.countTo(BASE + "/" + file); }
    int checkMarks() {
        auto items = statusItem.open();
        return std::count_if(items.begin(), items.end(), [](auto& i) { return i.checked == true; });
    }
};

TEST_F(Shell, StartsTheEngineRemovesTheOldRecordingThenHintsAndChecksForUpdates) {
    launch();
    EXPECT_EQ(procs.launches.size(), 1u);
    EXPECT_FALSE(files::exists(paths.wav));
    d.advance(PRIVACY_HINT_DELAY);
    EXPECT_EQ(hints, std::vector<std::string>{PRIVACY_HINT});
    d.advance(UPDATE_CHECK_DELAY - PRIVACY_HINT_DELAY);
    EXPECT_EQ(requests("latest.json"), 1u);
}

TEST_F(Shell, AutomaticUpdateCheckCanBeSwitchedOffButTheManualOneStays) {
    launch();
    const int marks = checkMarks();
    app->perform(MenuAction::toggleAutoUpdate);
    EXPECT_EQ(checkMarks(), marks - 1);
    d.advance(UPDATE_CHECK_DELAY);
    EXPECT_EQ(requests("latest.json"), 0u);
    app->perform(MenuAction::checkUpdate);
    EXPECT_EQ(requests("latest.json"), 1u);
}

TEST_F(Shell, RefusedInstanceNamesTheOthersAndLeavesTheirEngineAndRecordingAlone) {
    lock.others = {412, static_cast<int>(::getpid()), 977};
    launch();
    EXPECT_EQ(log.lines,
              std::vector<std::string>{"ZAVREN: 已有实例运行(pid [412, 977]),本实例退出"});
    EXPECT_EQ(application.terminations, 1);
    app->applicationWillTerminate();
    EXPECT_FALSE(statusItem.icon || hotkey.handler || procs.launches.size());
    EXPECT_TRUE(files::exists(paths.wav));
}

TEST_F(Shell, QuitAndSigtermStopTheEngineAndRemoveTheRecordingAndNothingRunsAfter) {
    launch();
    statusItem.open().back().choose();
    EXPECT_EQ(application.terminations, 1);
    test::writeFile(paths.wav, "RIFF");
    app->applicationWillTerminate();
    EXPECT_EQ(procs.children.at(0)->terms, 1);
    EXPECT_FALSE(files::exists(paths.wav));

    test::writeFile(paths.wav, "RIFF");
    app.reset();  // the handler still removes the recording and exits
    application.sigterm();
    EXPECT_EQ(application.exitStatus, 0);
    EXPECT_FALSE(files::exists(paths.wav));
    d.advance(UPDATE_CHECK_DELAY);  // nothing else runs for a shell that is gone
    EXPECT_TRUE(statusItem.open().empty() && hints.empty() && requests("latest.json") == 0);
}

TEST_F(Shell, IconFollowsTheSupervisorAndTheDictationStateAndTheHintKeepsOutOfTheWay) {
    http.respondAlways(200);
    launch();
    d.runUntilIdle();
    EXPECT_EQ(st.engine(), EngineState::ready);
    st.setState(RecState::listening);
    EXPECT_EQ(statusItem.icon->tint, StatusIcon::Tint::red);
    d.advance(PRIVACY_HINT_DELAY);
    EXPECT_TRUE(hints.empty());  // dictation has begun: dropped for good
    st.setState(RecState::transcribing);
    EXPECT_EQ(statusItem.icon->tint, StatusIcon::Tint::black);
}

TEST_F(Shell, WithoutEngineTheFirstRunWindowOpensAndItsEndStartsTheEngine) {
    launch(false);
    EXPECT_EQ(st.engine(), EngineState::notInstalled);
    EXPECT_EQ(windows.installer, &installer);
    test::makeLlama(paths.engineRoot + "/engine-1.0");
    installer.onDone();
    d.runUntilIdle();
    EXPECT_EQ(procs.launches.size(), 1u);
    d.advance(PRIVACY_HINT_DELAY);
    EXPECT_EQ(windows.calls.back(), "closeOnboarding");
    EXPECT_TRUE(hints.empty());
}

TEST_F(Shell, ReloadRestartsWithAFreshCounter) {
    launch();
    procs.children.back()->end(1);  // an unexpected exit counts as a restart
    d.runUntilIdle();
    app->perform(MenuAction::reloadTerms);
    d.runUntilIdle();
    EXPECT_EQ(server->restarts(), 0);
    EXPECT_EQ(procs.launches.size(), 2u);
}

TEST_F(Shell, AboutShowsTheInstalledEngineAndReinstallAsksFirst) {
    launch();
    app->perform(MenuAction::showAbout);
    desktop.alertAnswers = {1, 0};  // cancel, then confirm
    app->perform(MenuAction::reinstallEngine);
    EXPECT_EQ(procs.children.at(0)->terms, 0);
    const std::string mine = paths.engineRoot + "/engine-local-1/bin/llama-server";
    test::makeLlama(tmp / "mine");
    std::filesystem::create_directories(paths.engineRoot + "/engine-local-1/models");
    std::filesystem::create_directories(paths.engineRoot + "/engine-local-1/bin");
    for (const char* f : {"bin/llama-server", "models/qwen3-asr.gguf", "models/mmproj.gguf"})
        std::filesystem::create_symlink(tmp / "mine/" + f,
                                        paths.engineRoot + "/engine-local-1/" + f);
    app->perform(MenuAction::reinstallEngine);
    EXPECT_EQ(procs.children.at(0)->terms, 1);
    EXPECT_EQ(windows.calls, (std::vector<std::string>{"about:1.0", "onboarding"}));
    EXPECT_EQ(requests("engine.json"), 1u);
    EXPECT_EQ(desktop.alerts.at(0).informative.find("登记"), std::string::npos);
    EXPECT_NE(desktop.alerts.at(1).informative.find("你登记的引擎会保留"), std::string::npos);
    d.advance(EngineInstaller::MANIFEST_DEADLINE);  // nothing answers: offline
    EXPECT_EQ(log.countStartingWith("ZAVREN: 引擎下载失败:无法获取引擎信息"), 1u);
    EXPECT_FALSE(files::exists(paths.engineRoot + "/engine-1.0"));
    ASSERT_TRUE(files::exists(mine)) << "a registered engine is never removed";
    EXPECT_EQ(procs.launches.back().exec, mine) << "and serves while the download runs";
}

TEST_F(Shell, LoginEntryRunsThisProgramAndWhatItCannotDoIsNamedByPath) {
    launch();
    const int marks = checkMarks();
    app->perform(MenuAction::toggleAutostart);
    EXPECT_NE(files::read(paths.autostartFile)->find("/opt/zavren/bin/zavren"), std::string::npos);
    test::writeFile(paths.autostartFile, "[Desktop Entry]\nExec=zavren\n");
    EXPECT_EQ(checkMarks(), marks + 1) << "another entry starts it all the same";
    app->perform(MenuAction::toggleAutostart);
    desktop.filesOpen = false;
    app->perform(MenuAction::openTerms);
    ASSERT_EQ(desktop.alerts.size(), 2u);
    EXPECT_NE(desktop.alerts[0].informative.find(paths.autostartFile), std::string::npos);
    EXPECT_NE(desktop.alerts[1].informative.find(paths.termsFile), std::string::npos);
    desktop.textHandler =
        DesktopHandler{"web.desktop", "[Desktop Entry]\nCategories=WebBrowser;\n"};
    app->perform(MenuAction::openTerms);
    ASSERT_EQ(desktop.alerts.size(), 3u);
    EXPECT_EQ(desktop.alerts[2].message, "术语词典不会在网页浏览器中打开");
    EXPECT_NE(desktop.alerts[1].message, desktop.alerts[2].message);

    const auto rows = statusItem.open().size();
    EngineLocator::removeAll(paths.engineRoot);
    EXPECT_EQ(statusItem.open().size(), rows - 1) << "nothing left to download again";
}

TEST_F(Shell, TheKeyChosenInTheMenuIsKeptAndHeardAtOnceAndAnUnconnectedKeySaysHow) {
    defaults.setString(HOTKEY_SETTING_KEY, "f14");
    hotkey.reach = HotkeySources{};
    launch();
    EXPECT_EQ(hotkey.chosen, HotkeyKey::f14);
    auto menu = statusItem.open();
    EXPECT_EQ(menu.at(2).title, HOTKEY_SETUP_ROW);
    std::ranges::find(menu, MenuItem::Kind::submenu, &MenuItem::kind)->submenu.at(2).choose();
    EXPECT_EQ(hotkey.chosen, HotkeyKey::rightCtrl);
    EXPECT_EQ(defaults.stringValue(HOTKEY_SETTING_KEY), "rightCtrl");
    app->perform(MenuAction::showHotkeySetup);
    EXPECT_NE(desktop.alerts.at(0).informative.find("Control_R exec"), std::string::npos);
}

}  // namespace
}  // namespace zavren
