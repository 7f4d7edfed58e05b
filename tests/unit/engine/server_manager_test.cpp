#include "engine/server_manager.h"

#include "engine/locator.h"

#include <gtest/gtest.h>

#include <regex.h>

#include "fakes/fake_dispatcher.h"
#include "fakes/fake_http.h"
#include "fakes/fake_ports.h"
#include "fakes/fake_process.h"
#include "shared/files.h"
#include "unit/engine/engine_layout.h"

namespace zavren {
namespace {

using fakes::FakeDispatcher;
using fakes::FakeHttpClient;
using fakes::FakeLog;
using fakes::FakeProcessLauncher;

const std::string CRASH = "ZAVREN: 引擎意外退出 code=";

struct Report {
    EngineState state;
    double at;
    bool operator==(const Report&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Report& r) {
    return os << toString(r.state) << "@" << r.at;
}

struct Fixture : ::testing::Test {
    testing::TempDir tmp;
    Paths paths = Paths::under(tmp.path);
    FakeDispatcher d;
    FakeHttpClient http{d};
    FakeProcessLauncher procs;
    FakeLog log;
    std::vector<Report> reports;
    std::vector<double> pollTimes;
    std::shared_ptr<ServerManager> server;

    void SetUp() override {
        testing::makeLlama(paths.engineRoot + "/engine-1.0");
        server = ServerManager::create({d, http, procs, log, paths, ""});
        server->onState = [this](EngineState s) { reports.push_back({s, d.elapsed()}); };
    }

    // status(n) answers the n-th poll from now on; no value leaves it hanging (it times out).
    void respond(std::function<std::optional<int>(std::size_t)> status) {
        http.setResponder([this, status, n = std::size_t{0}](const HttpRequest&) mutable
                          -> std::optional<std::pair<HttpResponse, Duration>> {
            pollTimes.push_back(d.elapsed());
            auto code = status(n++);
            if (!code) return std::nullopt;
            return std::make_pair(HttpResponse{*code, {}, std::nullopt}, Duration::zero());
        });
    }
    void answerHealth(std::vector<int> statuses) {
        respond([statuses](std::size_t n) {
            return n < statuses.size() ? std::optional(statuses[n]) : std::nullopt;
        });
    }

    std::vector<EngineState> states() const {
        std::vector<EngineState> out;
        for (const auto& r : reports) out.push_back(r.state);
        return out;
    }
    FakeProcessLauncher::FakeChild& child(std::size_t i) { return *procs.children.at(i); }
};

using S = EngineState;

TEST_F(Fixture, NotReadyThenReadyPollsHalfASecondApart) {
    answerHealth({503, 503, 200});
    server->start();
    EXPECT_TRUE(reports.empty()) << "reports are asynchronous";
    d.advance(10);
    EXPECT_EQ(reports, (std::vector<Report>{{S::starting, 0}, {S::ready, 1.0}}));
    EXPECT_EQ(pollTimes, (std::vector<double>{0, 0.5, 1.0}));
    EXPECT_EQ(http.request(0).url, "http://127.0.0.1:8765/health");
    EXPECT_EQ(http.request(0).method, "GET");
    EXPECT_EQ(http.request(0).timeout, seconds(2));
    EXPECT_EQ(server->restarts(), 0);
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(Fixture, ATimedOutPollIsFollowedHalfASecondLater) {
    respond([](std::size_t n) { return n ? std::optional(200) : std::nullopt; });
    server->start();
    d.advance(10);
    EXPECT_EQ(pollTimes, (std::vector<double>{0, 2.5}));
    EXPECT_EQ(reports.back(), (Report{S::ready, 2.5}));
}

TEST_F(Fixture, NeverHealthyFailsOnceAtTheDeadlineAndLeavesTheEngineRunning) {
    http.respondAlways(503);
    server->start();
    d.advance(179.9);
    EXPECT_EQ(states(), std::vector<S>{S::starting});
    d.advance(100);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].state, S::failed);
    EXPECT_GT(reports[1].at, 180.0);
    EXPECT_LE(reports[1].at, 180.5);
    EXPECT_TRUE(child(0).running);
    EXPECT_EQ(child(0).terms + child(0).kills, 0);
    EXPECT_EQ(procs.launches.size(), 1u);
    const auto polls = http.count();
    d.advance(100);
    EXPECT_EQ(http.count(), polls) << "polling ended";
    EXPECT_TRUE(log.lines.empty()) << "a health time-out is not logged";
}

TEST_F(Fixture, CrashesRestartAfterOneAndAHalfSecondsAtMostThreeInARow) {
    server->start();
    d.runUntilIdle();
    for (std::size_t i = 0; i < 4; ++i) {
        ASSERT_EQ(procs.launches.size(), i + 1);
        child(i).end(1);
        d.runUntilIdle();
        d.advance(1.49);
        EXPECT_EQ(procs.launches.size(), i + 1) << "too early";
        d.advance(0.01);
    }
    d.advance(200);
    EXPECT_EQ(procs.launches.size(), 4u) << "the fourth crash leaves it down";
    EXPECT_EQ(log.countStartingWith(CRASH), 4u);
    EXPECT_EQ(log.lines.front(), CRASH + "1");
    EXPECT_EQ(states(), (std::vector<S>{S::starting, S::failed, S::starting, S::failed, S::starting,
                                        S::failed, S::starting, S::failed}))
        << "and no extra failure from the dead launches' health deadlines";
    EXPECT_EQ(server->restarts(), 3);
    EXPECT_EQ(procs.runs.size(), 4u) << "every launch kills stale copies first";

    server->restart();
    d.runUntilIdle();
    EXPECT_EQ(procs.launches.size(), 5u);
    child(4).end(9);
    d.advance(1.5);
    EXPECT_EQ(procs.launches.size(), 6u) << "an explicit restart resets the count";
}

TEST_F(Fixture, AHealthyAnswerResetsTheCount) {
    respond([](std::size_t n) { return n % 2 ? 200 : 503; });  // every launch: 503, then 200
    server->start();
    for (int round = 0; round < 6; ++round) {
        d.advance(1);
        ASSERT_EQ(reports.back().state, S::ready) << round;
        EXPECT_EQ(server->restarts(), 0);
        procs.children.back()->end(11);
        d.advance(1.5);
    }
    EXPECT_EQ(procs.launches.size(), 7u);
}

TEST_F(Fixture, StopTerminatesAtOnceAndKillsLaterOnlyIfStillRunning) {
    server->stop();  // nothing started yet: only the flag
    d.advance(5);
    EXPECT_TRUE(server->shuttingDown());
    EXPECT_TRUE(reports.empty() && procs.runs.empty() && procs.launches.empty());
    for (bool ignoresTerm : {false, true}) {
        SCOPED_TRACE(ignoresTerm);
        reports.clear();
        procs.termIgnored = ignoresTerm;
        server->start();
        d.runUntilIdle();
        auto& c = *procs.children.back();
        server->stop();
        EXPECT_EQ(c.terms, 1);
        EXPECT_EQ(c.kills, 0);
        d.advance(1.49);
        EXPECT_EQ(c.kills, 0);
        d.advance(0.01);
        EXPECT_EQ(c.kills, ignoresTerm ? 1 : 0);
        d.advance(200);
        EXPECT_EQ(states(), std::vector<S>{S::starting}) << "silent after stop";
        EXPECT_EQ(log.countStartingWith(CRASH), 0u);
        EXPECT_TRUE(server->shuttingDown());
    }
    EXPECT_EQ(procs.launches.size(), 2u) << "no restart";
}

TEST_F(Fixture, LateKillTargetsTheStoppedChildNotItsSuccessor) {
    procs.termIgnored = true;
    server->start();
    server->stop();
    server->start();
    d.advance(2);
    EXPECT_EQ(child(0).kills, 1);
    EXPECT_EQ(child(1).kills, 0);
    EXPECT_TRUE(child(1).running);
}

TEST_F(Fixture, NoEngineLogsOnceAndReportsFailed) {
    EngineLocator::removeAll(paths.engineRoot);
    EXPECT_FALSE(server->engineAvailable());
    server->start();
    d.advance(10);
    EXPECT_EQ(log.lines, std::vector<std::string>{"ZAVREN: 找不到可用引擎"});
    EXPECT_EQ(states(), std::vector<S>{S::failed});
    EXPECT_TRUE(procs.runs.empty()) << "no pkill";
    EXPECT_TRUE(procs.launches.empty());
    EXPECT_EQ(http.count(), 0u);
}

TEST_F(Fixture, LaunchFailureIsLoggedAndNotRetried) {
    procs.failLaunch = true;
    server->start();
    d.advance(10);
    EXPECT_EQ(log.lines, std::vector<std::string>{"ZAVREN: 启动引擎失败 无法启动"});
    EXPECT_EQ(states(), std::vector<S>{S::failed});
    EXPECT_EQ(procs.launches.size(), 1u);
    EXPECT_EQ(http.count(), 0u);
    EXPECT_FALSE(server->process());
}

TEST_F(Fixture, LaunchLineEnvironmentAndStaleKill) {
    EngineLocator::removeAll(paths.engineRoot);
    const std::string dir = paths.engineRoot + "/engine-1.0+b";
    testing::makePython(dir);
    procs.env["ZAVREN_PORT"] = "1";
    server->start();
    ASSERT_EQ(procs.runs.size(), 1u);
    EXPECT_EQ(procs.runs[0].exec, "/usr/bin/pkill");
    EXPECT_EQ(procs.runs[0].args,
              (std::vector<std::string>{"-9", "-f", literalPattern(dir + "/voice_server.py")}));
    ASSERT_EQ(procs.launches.size(), 1u);
    const auto& spec = procs.launches[0];
    EXPECT_EQ(spec.exec, dir + "/python/bin/python3.13");
    EXPECT_EQ(spec.args, std::vector<std::string>{dir + "/voice_server.py"});
    EXPECT_EQ(spec.env.at("PATH"), "/usr/bin:/bin");
    EXPECT_EQ(spec.env.at("ZAVREN_PORT"), "8765") << "the engine's entries win";
    EXPECT_EQ(spec.env.at("HF_HOME"), dir + "/models");
    EXPECT_GE(spec.outputFd, 0);
    EXPECT_TRUE(files::exists(paths.engineLog));
    EXPECT_EQ(server->currentKind(), EngineKind::python);
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
    const std::string p = literalPattern(path);
    EXPECT_TRUE(eremMatches(p, "prefix " + path + " -m model"));
    EXPECT_FALSE(eremMatches(p, "/home/u/engine-1X00b/bin/llama-server (x)[y]{2}^$|*?\\"));
    EXPECT_FALSE(eremMatches(p, "/home/u/engine-1.0+b/bin/llama-server x[y]{2}^$|*?\\"));
    // The unescaped path would match the near miss: the escaping is what prevents it.
    EXPECT_TRUE(eremMatches("/a/engine-1.0+b/s", "/a/engine-1X00b/s"));
    EXPECT_FALSE(eremMatches(literalPattern("/a/engine-1.0+b/s"), "/a/engine-1X00b/s"));
}

TEST_F(Fixture, AReplacedChildsExitIsNotACrash) {
    server->start();
    server->start();  // reload: pkill ends the first child
    child(0).end(9);
    d.advance(10);
    EXPECT_EQ(log.countStartingWith(CRASH), 0u);
    EXPECT_EQ(states(), (std::vector<S>{S::starting, S::starting}));
    EXPECT_EQ(procs.launches.size(), 2u);
    EXPECT_EQ(server->restarts(), 0);
}

TEST_F(Fixture, HealthPollsOfAnEarlierLaunchNeverReportForALaterOne) {
    server->start();  // its poll stays unanswered for now
    d.advance(100);
    const std::size_t firstPoll = http.count() - 1;
    server->start();
    const std::size_t secondPoll = http.count() - 1;
    http.complete(firstPoll, HttpResponse{200, {}, std::nullopt});
    d.runUntilIdle();
    EXPECT_EQ(states(), (std::vector<S>{S::starting, S::starting}));
    // The first launch's deadline (t = 180) does not fail the second launch either.
    http.respondAlways(503);
    http.complete(secondPoll, HttpResponse{503, {}, std::nullopt});
    d.advance(150);
    EXPECT_EQ(states(), (std::vector<S>{S::starting, S::starting}));
    d.advance(40);
    EXPECT_EQ(states(), (std::vector<S>{S::starting, S::starting, S::failed}));
    EXPECT_GT(reports.back().at, 280.0);
}

TEST_F(Fixture, StopCancelsAScheduledRestart) {
    server->start();
    d.runUntilIdle();
    child(0).end(1);
    d.advance(1);
    server->stop();
    d.advance(10);
    EXPECT_EQ(procs.launches.size(), 1u);
    EXPECT_EQ(states(), (std::vector<S>{S::starting, S::failed}));
}

TEST_F(Fixture, NothingRunsForADestroyedManager) {
    answerHealth({503});
    server->start();
    d.runUntilIdle();
    reports.clear();
    server.reset();
    child(0).end(1);
    d.advance(200);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(procs.launches.size(), 1u);
}

}  // namespace
}  // namespace zavren
