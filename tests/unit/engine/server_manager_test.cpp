#include "engine/server_manager.h"

#include <gtest/gtest.h>

#include "engine/locator.h"
#include "fakes/fake_platform.h"
#include "unit/engine/engine_layout.h"

namespace zavren {
namespace {

using S = EngineState;
const std::string CRASH = "ZAVREN: 引擎意外退出 code=";

struct Supervisor : ::testing::Test, fakes::FakePlatform, PortOwners, FolderWatcher {
    test::TempDir tmp;
    Paths paths = Paths::under(tmp.path);
    ListenerOwner listener = ListenerOwner::nobody;
    std::function<void()> folderChanged;
    std::vector<S> states;
    std::vector<double> polls;
    std::shared_ptr<ServerManager> server;

    std::vector<PortListener> onPort;
    std::vector<std::pair<int, std::size_t>> stopped;  // pid, launches made by then
    ListenerOwner owner(int) override { return listener; }
    std::vector<PortListener> listeners(int) override { return onPort; }
    void stopProcess(int pid) override { stopped.emplace_back(pid, procs.launches.size()); }
    std::unique_ptr<FolderWatch> watch(const std::string&, std::function<void()> f) override {
        folderChanged = std::move(f);
        return std::make_unique<FolderWatch>();
    }
    void SetUp() override {
        test::makeLlama(paths.engineRoot + "/engine-1.0");
        server = ServerManager::create({d, http, procs, log, *this, paths, ""});
        server->onState = [this](S s) { states.push_back(s); };
        answerHealth({});
    }
    // The n-th poll from now gets statuses[n] after `delay`; later ones hang until their time-out.
    void answerHealth(std::vector<int> statuses, double delay = 0) {
        http.setResponder([=, this, n = std::size_t{0}](const HttpRequest&) mutable
                          -> std::optional<std::pair<HttpResponse, Duration>> {
            polls.push_back(d.elapsed());
            if (n >= statuses.size()) return std::nullopt;
            return std::make_pair(HttpResponse{statuses[n++], {}, {}}, seconds(delay));
        });
    }
    void start() { server->start(), d.runUntilIdle(); }
    fakes::FakeProcessLauncher::FakeChild& child(std::size_t i) { return *procs.children.at(i); }
};

TEST_F(Supervisor, PollsHalfASecondApartUntilReadyOrFailsAtTheDeadline) {
    answerHealth({503});  // then polls that hang: each is cut off after half a second
    start();
    d.advance(3.0);
    EXPECT_EQ(polls, (std::vector<double>{0, 0.5, 1.5, 2.5}));
    http.respondAlways(503);
    d.advance(176.9);
    EXPECT_EQ(states, std::vector<S>{S::starting});
    d.advance(1);
    EXPECT_EQ(states, (std::vector<S>{S::starting, S::failed}));
    EXPECT_EQ(log.lines, std::vector<std::string>{"ZAVREN: 引擎启动超时:180 秒内未就绪"});
}

TEST_F(Supervisor, CrashesRestartAtMostThreeTimesAndOnlyOurHealthyChildResetsTheCount) {
    start();
    for (std::size_t i = 0; i < 4; ++i) {
        child(i).end(1);
        d.advance(1.49);
        EXPECT_EQ(procs.launches.size(), i + 1) << "too early";
        d.advance(0.01);
    }
    d.advance(200);
    EXPECT_EQ(procs.launches.size(), 4u) << "the fourth crash leaves it down";
    EXPECT_EQ(log.countStartingWith(CRASH), 4u);
    answerHealth({200}, 0.1);  // answered after our child is gone: someone else's
    start();
    child(4).running = false;
    d.advance(1);
    EXPECT_EQ(server->restarts(), 3);
    answerHealth({200}, 0.1);
    server->restart();
    d.advance(1);
    EXPECT_EQ(server->restarts(), 0);
}

TEST_F(Supervisor, StopKillsLaterOnlyWhenNeededAndTheBlockingStopWaitsForTheKill) {
    procs.termIgnored = true;
    start();
    server->stop();
    EXPECT_EQ(child(0).terms, 1);
    d.advance(1.49);
    EXPECT_EQ(child(0).kills, 0);
    d.advance(0.01);
    EXPECT_EQ(child(0).kills, 1);
    start();
    server->stopAndWait();
    EXPECT_EQ(child(1).terms + child(1).kills, 2);
    d.advance(200);
    EXPECT_EQ(procs.launches.size(), 2u) << "no restart after a stop";
}

// Only a process of ours on the engine port running our engine is signalled: an
// editor or a `tail -f` on a file in the engine folder is left alone.
TEST_F(Supervisor, StaleCopiesAreStoppedByPidOffTheCallersThreadBeforeAPrivateLoggedLaunch) {
    EngineLocator::removeAll(paths.engineRoot);
    start();
    EXPECT_EQ(log.lines, std::vector<std::string>{"ZAVREN: 找不到可用引擎"});
    const std::string dir = paths.engineRoot + "/engine-1.0+b", script = dir + "/voice_server.py";
    test::makePython(dir);
    const unsigned me = ::geteuid();
    onPort = {{11, me, "/usr/bin/python3", {"python3", script}},
              {12, me + 1, "/usr/bin/python3", {"python3", script}},
              {13, me, "/usr/bin/tail", {"tail", "-f", script}},
              {14, me, dir + "/bin/llama-server", {"llama-server"}},
              {15, me, paths.engineRoot + "-other/x", {"x"}},
              {16, me, "/elsewhere/server", {dir + "/bin/llama-server", "-m"}}};
    server->start();
    EXPECT_TRUE(stopped.empty()) << "the caller does not wait";
    d.runUntilIdle();
    EXPECT_EQ(stopped, (std::vector<std::pair<int, std::size_t>>{{11, 0}, {14, 0}, {16, 0}}));
    EXPECT_EQ(procs.launches.size(), 1u);
    EXPECT_EQ(std::filesystem::status(paths.engineLog).permissions(), std::filesystem::perms(0600));
    onPort.clear();
    server->start();
    server->stop();  // while the old one ends: the launch is called off
    procs.failLaunch = true;
    start();
    EXPECT_EQ(procs.launches.size(), 2u);
    EXPECT_EQ(log.lines.back(), "ZAVREN: 启动引擎失败 无法启动");
    EXPECT_EQ(states, (std::vector<S>{S::notInstalled, S::starting, S::failed}));
}

// A registered engine's file that became writable by others since it was added.
TEST_F(Supervisor, AnEngineOthersCouldRewriteIsNeverStarted) {
    ::chmod((paths.engineRoot + "/engine-1.0/bin/llama-server").c_str(), 0777);
    start();
    EXPECT_TRUE(procs.launches.empty());
    EXPECT_EQ(states, std::vector<S>{S::failed});
    EXPECT_EQ(server->problem().rfind("引擎文件不安全:" + paths.engineRoot, 0), 0u)
        << server->problem();
}

TEST_F(Supervisor, AStrangerOnThePortGetsNothingAndStopsTheRestarts) {
    listener = ListenerOwner::stranger;
    start();
    child(0).end(1);  // it could not bind
    d.advance(10);
    EXPECT_FALSE(server->confirmOwnListener());
    d.advance(10);
    EXPECT_EQ(http.count(), 0u);
    EXPECT_EQ(procs.launches.size(), 1u);
    EXPECT_EQ(server->problem(), "端口 8765 被其他用户的程序占用");
    EXPECT_EQ(log.countStartingWith("ZAVREN: 端口 8765"), 1u);
    listener = ListenerOwner::us;
    server->restart();
    d.advance(0.4);
    EXPECT_EQ(http.count(), 1u);
    EXPECT_EQ(server->problem(), "");
}

TEST_F(Supervisor, AStartWhileOurEngineRunsEndsItFirst) {
    start();
    start();
    EXPECT_EQ(child(0).terms, 1);
    EXPECT_EQ(procs.launches.size(), 2u);
}

TEST_F(Supervisor, AChangedEngineChoiceReplacesTheEngineAndAnUnchangedOneDoesNothing) {
    server->followEngineFolder(*this);
    start();
    const auto change = [&](const std::string& version) {
        if (!version.empty()) test::makeLlama(paths.engineRoot + "/engine-" + version);
        folderChanged();
        folderChanged();
        d.advance(2);
        return procs.launches.size();
    };
    EXPECT_EQ(change(""), 1u);
    EXPECT_EQ(change("2.0"), 2u);
    EXPECT_EQ(child(0).terms, 1) << "the old engine ended";
    EngineLocator::removeAll(paths.engineRoot);
    EXPECT_EQ(change("2.0"), 3u) << "a reinstall in place";
    server->stop();
    EXPECT_EQ(change("3.0"), 4u) << "an engine that comes after a stop is started all the same";
    server->stopAndWait();
    EXPECT_EQ(change("4.0"), 4u) << "nothing starts once the program is ending";
    EXPECT_EQ(log.countStartingWith(CRASH), 0u);
}

}  // namespace
}  // namespace zavren
