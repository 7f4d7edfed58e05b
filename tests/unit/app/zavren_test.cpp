#include "app/zavren.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "fakes/fake_dispatcher.h"
#include "fakes/fake_http.h"
#include "fakes/fake_ports.h"
#include "fakes/fake_process.h"
#include "shared/files.h"
#include "unit/engine/engine_layout.h"

namespace zavren {
namespace {

using namespace fakes;
const std::string BASE = "http://dl.test/zavren";

// The real engine supervisor, installer and update check over fake ports.
struct Shell : ::testing::Test {
    testing::TempDir tmp;
    Paths paths = Paths::under(tmp.path);
    FakeDispatcher d;
    FakeHttpClient http{d};
    FakeProcessLauncher procs;
    FakeLog log;
    FakeDefaults defaults;
    FakeDesktop desktop;
    FakeStatusItem statusItem;
    FakePanel panel;
    FakeTrust trust;
    FakeMicrophone mic;
    FakeHotkeyMonitor hotkey;
    FakeSetupWindows windows;
    FakeInstanceLock lock;
    FakeApplication application;
    Platform platform{&d,     &http,       &procs,   nullptr,   &hotkey,     nullptr,
                      &trust, &mic,        nullptr,  &defaults, &log,        &desktop,
                      &panel, &statusItem, &windows, &lock,     &application};
    AppState st;
    std::shared_ptr<ServerManager> server = ServerManager::create({d, http, procs, log, paths, ""});
    EngineInstaller installer{d, http, procs, paths.engineRoot, BASE};
    AppUpdater updater{d, http, desktop, defaults, BASE};
    std::vector<std::string> hints;
    int flags = 0;
    std::shared_ptr<Zavren> app;

    void launch(bool withEngine = true) {
        if (withEngine) testing::makeLlama(paths.engineRoot + "/engine-1.0");
        testing::writeFile(paths.wav, "RIFF");
        app = std::make_shared<Zavren>(
            platform, paths, st,
            ShellParts{server, installer, updater, [this](const FlagsEvent&) { ++flags; },
                       [this](const std::string& text, double) { hints.push_back(text); }});
        app->applicationDidFinishLaunching();
    }
    std::size_t requests(const std::string& file) const { return http.countTo(BASE + "/" + file); }
    // Chooses the row of that action in the menu as it opens now.
    const MenuItem* choose(MenuAction action) {
        static std::vector<MenuItem> items;
        std::string title;
        for (const auto& r : menuModel({true, EngineState::failed, false}))
            if (r.action == action) title = r.title;
        items = statusItem.open();
        for (const auto& item : items) {
            if (item.title != title) continue;
            if (item.choose) item.choose();
            return &item;
        }
        ADD_FAILURE() << "no row for action " << static_cast<int>(action);
        return nullptr;
    }
};

TEST_F(Shell, StartsTheEngineRemovesTheOldRecordingThenHintsAndChecksForUpdates) {
    launch();
    EXPECT_EQ(procs.launches.size(), 1u);
    EXPECT_FALSE(files::exists(paths.wav));
    EXPECT_TRUE(statusItem.shown);
    EXPECT_EQ(panel.setups, 1);
    hotkey.send(61, 0);
    EXPECT_EQ(flags, 1);
    d.advance(PRIVACY_HINT_DELAY - seconds(0.01));
    EXPECT_TRUE(hints.empty());
    d.advance(0.01);
    EXPECT_EQ(hints, std::vector<std::string>{PRIVACY_HINT});
    d.advance(UPDATE_CHECK_DELAY - PRIVACY_HINT_DELAY);
    EXPECT_EQ(requests("latest.json"), 1u);
}

struct HintCase {
    const char* name;
    bool engine;
    bool seenBefore;
    RecState at2s;
    std::size_t hints;
};

void PrintTo(const HintCase& c, std::ostream* os) {
    *os << c.name;
}

class PrivacyHint : public Shell, public ::testing::WithParamInterface<HintCase> {};

TEST_P(PrivacyHint, OnlyOnTheFirstLaunchWithAnEngineWhileIdle) {
    if (GetParam().seenBefore) defaults.setBool(PRIVACY_HINT_KEY, true);
    launch(GetParam().engine);
    EXPECT_EQ(defaults.boolValue(PRIVACY_HINT_KEY), true);
    st.setState(GetParam().at2s);
    d.advance(PRIVACY_HINT_DELAY);
    EXPECT_EQ(hints.size(), GetParam().hints);
}

INSTANTIATE_TEST_SUITE_P(Launches, PrivacyHint,
                         ::testing::Values(HintCase{"First", true, false, RecState::idle, 1},
                                           HintCase{"NoEngine", false, false, RecState::idle, 0},
                                           HintCase{"Later", true, true, RecState::idle, 0},
                                           HintCase{"Dictating", true, false, RecState::listening,
                                                    0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Shell, AutomaticUpdateCheckCanBeSwitchedOffButTheManualOneStays) {
    launch();
    EXPECT_EQ(choose(MenuAction::toggleAutoUpdate)->checked, true);  // as it was when chosen
    EXPECT_EQ(defaults.boolValue(AUTO_UPDATE_KEY), false);
    d.advance(UPDATE_CHECK_DELAY);
    EXPECT_EQ(requests("latest.json"), 0u);
    choose(MenuAction::checkUpdate);
    EXPECT_EQ(requests("latest.json"), 1u);
}

TEST_F(Shell, RefusedInstanceNamesTheOthersAndLeavesTheirEngineAndRecordingAlone) {
    lock.others = {412, static_cast<int>(::getpid()), 977};
    launch();
    EXPECT_EQ(log.lines,
              std::vector<std::string>{"ZAVREN: 已有实例运行(pid [412, 977]),本实例退出"});
    EXPECT_EQ(application.terminations, 1);
    app->applicationWillTerminate();
    EXPECT_FALSE(statusItem.shown);
    EXPECT_EQ(hotkey.installs, 0);
    EXPECT_TRUE(procs.launches.empty());
    EXPECT_TRUE(files::exists(paths.wav));
}

TEST_F(Shell, QuitAndSigtermStopTheEngineAndRemoveTheRecording) {
    launch();
    choose(MenuAction::quit);
    EXPECT_EQ(application.terminations, 1);
    testing::writeFile(paths.wav, "RIFF");
    app->applicationWillTerminate();
    EXPECT_EQ(procs.children.at(0)->terms, 1);
    EXPECT_FALSE(files::exists(paths.wav));

    testing::writeFile(paths.wav, "RIFF");
    app.reset();  // the handler still removes the recording and exits
    application.sigterm();
    EXPECT_EQ(application.exitStatus, 0);
    EXPECT_FALSE(files::exists(paths.wav));
}

TEST_F(Shell, IconFollowsTheDictationAndEngineStateWhoeverSetsThem) {
    http.respondAlways(200);
    launch();
    d.runUntilIdle();
    EXPECT_EQ(st.engine(), EngineState::ready);  // the supervisor's report
    using T = StatusIcon::Tint;
    for (auto [state, engine, tint] : {std::tuple{RecState::listening, EngineState::ready, T::red},
                                       {RecState::listening, EngineState::failed, T::red},
                                       {RecState::transcribing, EngineState::failed, T::orange},
                                       {RecState::idle, EngineState::ready, T::black}}) {
        st.setState(state);
        st.setEngine(engine);
        EXPECT_EQ(statusItem.icon.tint, tint);
    }
}

TEST_F(Shell, FinishedInstallStartsTheEngineAndClosesTheWindowAMomentLater) {
    launch(false);
    EXPECT_EQ(windows.installer, &installer);
    EXPECT_EQ(st.engine(), EngineState::starting);
    testing::makeLlama(paths.engineRoot + "/engine-1.0");
    installer.onDone();
    EXPECT_EQ(procs.launches.size(), 1u);
    d.advance(ONBOARDING_CLOSE_DELAY - seconds(0.01));
    EXPECT_EQ(windows.calls.back(), "onboarding");
    d.advance(0.01);
    EXPECT_EQ(windows.calls.back(), "closeOnboarding");
}

TEST_F(Shell, RetryAndReloadRestartWithAFreshCounter) {
    launch();
    for (MenuAction action : {MenuAction::retryEngine, MenuAction::reloadTerms}) {
        procs.children.back()->end(1);  // an unexpected exit counts as a restart
        d.runUntilIdle();
        EXPECT_EQ(server->restarts(), 1);
        app->perform(action);
        EXPECT_EQ(server->restarts(), 0);
    }
    EXPECT_EQ(procs.launches.size(), 3u);
}

TEST_F(Shell, AboutShowsTheInstalledEngineAndReinstallAsksFirst) {
    launch();
    choose(MenuAction::showAbout);
    desktop.alertAnswers = {1, 0};  // cancel, then confirm
    choose(MenuAction::reinstallEngine);
    EXPECT_EQ(procs.children.at(0)->terms, 0);
    choose(MenuAction::reinstallEngine);
    EXPECT_EQ(procs.children.at(0)->terms, 1);
    EXPECT_EQ(st.engine(), EngineState::starting);
    choose(MenuAction::showAbout);
    EXPECT_EQ(windows.calls, (std::vector<std::string>{"about:1.0", "onboarding", "about:-"}));
    EXPECT_EQ(requests("engine.json"), 1u);
}

TEST_F(Shell, CallbacksDoNothingOnceTheShellIsGone) {
    launch();
    app.reset();
    EXPECT_TRUE(statusItem.open().empty());
    d.advance(UPDATE_CHECK_DELAY);
    EXPECT_TRUE(hints.empty());
    EXPECT_EQ(requests("latest.json"), 0u);
}

}  // namespace
}  // namespace zavren
