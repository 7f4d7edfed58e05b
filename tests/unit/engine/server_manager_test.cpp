#include "engine/server_manager.h"

#include <gtest/gtest.h>
#include <regex.h>
#include <sys/stat.h>

#include "engine/locator.h"
#include "fakes/fake_dispatcher.h"
#include "fakes/fake_http.h"
#include "fakes/fake_ports.h"
#include "fakes/fake_process.h"
#include "shared/constants.h"
#include "shared/files.h"
#include "unit/engine/engine_layout.h"

namespace zavren {
namespace {

using fakes::FakeProcessLauncher;
using S = EngineState;
const std::string CRASH = "ZAVREN: 引擎意外退出 code=";

struct FakePorts : PortOwners {
    ListenerOwner who = ListenerOwner::nobody;
    ListenerOwner owner(int) override { return who; }
};

struct FakeWatcher : FolderWatcher, FolderWatch {
    std::function<void()> onChange;
    std::unique_ptr<FolderWatch> watch(const std::string&, std::function<void()> f) override {
        onChange = std::move(f);
        return std::make_unique<FolderWatch>();
    }
};

struct Supervisor : ::testing::Test {
    test::TempDir tmp;
    Paths paths = Paths::under(tmp.path);
    fakes::FakeDispatcher d;
    fakes::FakeHttpClient http{d};
    FakeProcessLauncher procs;
    fakes::FakeLog log;
    FakePorts ports;
    std::vector<std::pair<S, double>> reports;
    std::vector<double> polls;
    std::shared_ptr<ServerManager> server;

    void SetUp() override {
        testing::makeLlama(paths.engineRoot + "/engine-1.0");
        server = ServerManager::create({d, http, procs, log, ports, paths, ""});
        server->onState = [this](S s) { reports.emplace_back(s, d.elapsed()); };
        answerHealth({});
    }
    // The n-th poll gets statuses[n]; later ones hang until their time-out.
    void answerHealth(std::vector<int> statuses) {
        http.setResponder([this, statuses, n = std::size_t{0}](const HttpRequest&) mutable
                          -> std::optional<std::pair<HttpResponse, Duration>> {
            polls.push_back(d.elapsed());
            if (n >= statuses.size()) return std::nullopt;
            return std::make_pair(HttpResponse{statuses[n++], {}, {}}, Duration::zero());
        });
    }
    std::vector<S> states() const {
        std::vector<S> out;
        for (const auto& r : reports) out.push_back(r.first);
        return out;
    }
    FakeProcessLauncher::FakeChild& child(std::size_t i) { return *procs.children.at(i); }
};

TEST_F(Supervisor, PollsHalfASecondAfterEachAnswerUntilReady) {
    answerHealth({503});  // then a poll that hangs until its 2 s time-out
    server->start();
    d.advance(3.0);
    EXPECT_EQ(polls, (std::vector<double>{0, 0.5, 3.0}));
    answerHealth({200});
    d.advance(3);
    EXPECT_EQ(reports.back(), std::make_pair(S::ready, 5.5));
    EXPECT_EQ(http.request(0).url, HEALTH);
}

TEST_F(Supervisor, NeverHealthyFailsOnceAtTheDeadlineAndLeavesTheEngineRunning) {
    http.respondAlways(503);
    server->start();
    d.advance(179.9);
    EXPECT_EQ(states(), std::vector<S>{S::starting});
    d.advance(100);
    EXPECT_EQ(states(), (std::vector<S>{S::starting, S::failed}));
    EXPECT_LE(reports.back().second, 180.5);
    EXPECT_TRUE(child(0).running);
}

TEST_F(Supervisor, CrashesRestartAtMostThreeTimesAndOnlyOurHealthyChildResetsTheCount) {
    server->start();
    d.runUntilIdle();
    for (std::size_t i = 0; i < 4; ++i) {
        child(i).end(1);
        d.advance(1.49);
        EXPECT_EQ(procs.launches.size(), i + 1) << "too early";
        d.advance(0.01);
    }
    d.advance(200);
    EXPECT_EQ(procs.launches.size(), 4u) << "the fourth crash leaves it down";
    EXPECT_EQ(log.countStartingWith(CRASH), 4u);
    EXPECT_EQ(server->restarts(), 3);

    // A 200 arriving when our child is gone came from someone else: no reset.
    http.setResponder([](const HttpRequest&) {
        return std::make_optional(std::make_pair(HttpResponse{200, {}, {}}, seconds(0.1)));
    });
    server->start();
    d.runUntilIdle();
    child(4).running = false;
    d.advance(1);
    EXPECT_EQ(server->restarts(), 3);

    server->restart();
    d.advance(1);
    EXPECT_EQ(server->restarts(), 0);
}

TEST_F(Supervisor, HealthyAnswerFromOurChildResetsTheCount) {
    server->start();
    d.runUntilIdle();
    child(0).end(1);
    d.advance(1);
    EXPECT_EQ(server->restarts(), 1);
    answerHealth({200});
    d.advance(1);
    EXPECT_EQ(server->restarts(), 0);
}

TEST_F(Supervisor, StopTerminatesAndKillsLaterOnlyWhenStillRunning) {
    for (bool ignoresTerm : {false, true}) {
        procs.termIgnored = ignoresTerm;
        server->start();
        d.runUntilIdle();
        auto& c = *procs.children.back();
        server->stop();
        EXPECT_EQ(c.terms, 1);
        d.advance(1.49);
        EXPECT_EQ(c.kills, 0);
        d.advance(0.01);
        EXPECT_EQ(c.kills, ignoresTerm ? 1 : 0);
    }
    d.advance(200);
    EXPECT_EQ(log.countStartingWith(CRASH), 0u);
    EXPECT_EQ(procs.launches.size(), 2u) << "no restart after stop";
}

TEST_F(Supervisor, StopAndWaitKillsAChildThatIgnoresTerminateBeforeReturning) {
    procs.termIgnored = true;
    server->start();
    d.runUntilIdle();
    server->stopAndWait();
    EXPECT_EQ(child(0).terms, 1);
    EXPECT_EQ(child(0).kills, 1);
    EXPECT_FALSE(child(0).running);
}

TEST_F(Supervisor, NoEngineOrAFailedLaunchReportsFailedOnce) {
    procs.failLaunch = true;
    server->start();
    d.advance(10);
    EXPECT_EQ(log.lines, std::vector<std::string>{"ZAVREN: 启动引擎失败 无法启动"});
    EngineLocator::removeAll(paths.engineRoot);
    server->start();
    d.advance(10);
    EXPECT_EQ(log.lines.back(), "ZAVREN: 找不到可用引擎");
    EXPECT_EQ(states(), (std::vector<S>{S::failed, S::failed}));
    EXPECT_EQ(procs.runs.size(), 1u) << "no pkill without an engine";
    EXPECT_EQ(http.count(), 0u);
}

TEST_F(Supervisor, StaleCopiesAreKilledOffTheMainThreadBeforeTheLaunch) {
    EngineLocator::removeAll(paths.engineRoot);
    const std::string dir = paths.engineRoot + "/engine-1.0+b";
    testing::makePython(dir);
    procs.env["ZAVREN_PORT"] = "1";
    procs.runner = [this](const ProcessSpec&) {
        EXPECT_EQ(procs.launches.size() + 1, procs.runs.size()) << "pkill first";
        return RunResult{true, 0, {}};
    };
    server->start();
    EXPECT_TRUE(procs.runs.empty()) << "the caller does not wait for pkill";
    d.runUntilIdle();
    ASSERT_EQ(procs.runs.size(), 1u);
    EXPECT_EQ(procs.runs[0].args,
              (std::vector<std::string>{"-9", "-f", literalPattern(dir + "/voice_server.py")}));
    const auto& spec = procs.launches.at(0);
    EXPECT_EQ(spec.exec, dir + "/python/bin/python3.13");
    EXPECT_EQ(spec.env.at("PATH"), "/usr/bin:/bin");
    EXPECT_EQ(spec.env.at("ZAVREN_PORT"), "8765") << "the engine's entries win";

    struct stat st {};
    ASSERT_EQ(::stat(paths.engineLog.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string text = files::read(paths.engineLog).value_or("");
    EXPECT_NE(text.find(dir + "/voice_server.py"), std::string::npos) << text;

    server->start();
    server->stop();  // while pkill is pending: the launch is called off
    d.advance(5);
    EXPECT_EQ(procs.launches.size(), 1u);
}

TEST_F(Supervisor, AStrangerOnThePortGetsNothingAndStopsTheRestarts) {
    ports.who = ListenerOwner::stranger;
    server->start();
    d.runUntilIdle();
    EXPECT_EQ(http.count(), 0u);
    EXPECT_EQ(states(), (std::vector<S>{S::starting, S::failed}));
    EXPECT_EQ(server->problem(), "端口 8765 被其他用户的程序占用");
    child(0).end(1);  // it could not bind
    d.advance(10);
    EXPECT_FALSE(server->confirmOwnListener());
    d.advance(10);
    EXPECT_EQ(procs.launches.size(), 1u);
    EXPECT_EQ(log.countStartingWith("ZAVREN: 端口 8765"), 1u);
    EXPECT_EQ(http.count(), 0u);

    ports.who = ListenerOwner::us;
    EXPECT_TRUE(server->confirmOwnListener());
    server->restart();
    d.advance(1);
    EXPECT_EQ(http.count(), 1u);
    EXPECT_EQ(server->problem(), "");
}

TEST_F(Supervisor, AChangedEngineChoiceReplacesTheEngineAndAnUnchangedOneDoesNothing) {
    FakeWatcher watcher;
    server->followEngineFolder(watcher);
    server->start();
    d.runUntilIdle();
    watcher.onChange();
    d.advance(2);
    EXPECT_EQ(procs.launches.size(), 1u);

    testing::makeLlama(paths.engineRoot + "/engine-2.0");
    watcher.onChange();
    watcher.onChange();
    d.advance(2);
    ASSERT_EQ(procs.launches.size(), 2u);
    EXPECT_EQ(child(0).terms, 1);
    EXPECT_EQ(procs.launches[1].exec, paths.engineRoot + "/engine-2.0/bin/llama-server");

    EngineLocator::removeAll(paths.engineRoot);  // a reinstall in place
    testing::makeLlama(paths.engineRoot + "/engine-2.0");
    watcher.onChange();
    d.advance(2);
    EXPECT_EQ(procs.launches.size(), 3u);
    EXPECT_EQ(log.countStartingWith(CRASH), 0u);

    server->stop();
    testing::makeLlama(paths.engineRoot + "/engine-3.0");
    watcher.onChange();
    d.advance(2);
    EXPECT_EQ(procs.launches.size(), 3u) << "a deliberate stop owns the next start";
}

TEST_F(Supervisor, CallbacksOfAReplacedLaunchAreIgnored) {
    server->start();
    d.advance(100);
    const std::size_t firstPoll = http.count() - 1;
    server->start();
    d.runUntilIdle();
    child(0).end(9);
    http.complete(firstPoll, HttpResponse{200, {}, std::nullopt});
    d.advance(10);
    EXPECT_EQ(states(), (std::vector<S>{S::starting, S::starting}));
    EXPECT_EQ(log.countStartingWith(CRASH), 0u);
    server.reset();
    child(1).end(1);
    d.advance(200);
    EXPECT_EQ(procs.launches.size(), 2u) << "nothing runs for a destroyed supervisor";
}

// pkill compiles its pattern with regcomp(REG_EXTENDED); so does this check.
bool eremMatches(const std::string& pattern, const std::string& text) {
    regex_t re;
    if (::regcomp(&re, pattern.c_str(), REG_EXTENDED | REG_NOSUB) != 0) return false;
    bool hit = ::regexec(&re, text.c_str(), 0, nullptr, 0) == 0;
    ::regfree(&re);
    return hit;
}

TEST(LiteralPattern, MatchesThePathAndNothingElse) {
    const std::string path = "/home/u/engine-1.0+b/bin/llama-server (x)[y]{2}^$|*?\\";
    EXPECT_TRUE(eremMatches(literalPattern(path), "prefix " + path + " -m model"));
    EXPECT_FALSE(eremMatches(literalPattern(path),
                             "/home/u/engine-1X00b/bin/llama-server (x)[y]{2}^$|*?\\"));
}

}  // namespace
}  // namespace zavren
