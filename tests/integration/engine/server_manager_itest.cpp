#include <signal.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "integration/engine/engine_rig.h"
#include "shared/files.h"

namespace zavren {
namespace {

using testing::EngineRig;
using S = EngineState;

std::size_t countOf(const std::string& text, const std::string& needle) {
    std::size_t n = 0;
    for (auto p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
    return n;
}

// The environment of a live process, as the kernel holds it.
std::map<std::string, std::string> environOf(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    std::map<std::string, std::string> env;
    for (std::string entry; std::getline(in, entry, '\0');) {
        auto eq = entry.find('=');
        if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    return env;
}

TEST(EngineSupervision, LogIsAppendedAcrossRunsAndGetsTheEngineOutput) {
    REQUIRE_FREE_ENGINE_PORT();
    EngineRig rig;
    testing::linkLlama(rig.engineDir("1.0"));
    testing::writeFile(rig.paths.engineLog, "earlier run\n");
    std::vector<int> pids;
    for (int run = 0; run < 2; ++run) {
        rig.server->start();
        ASSERT_TRUE(rig.waitFor(S::ready)) << run;
        auto child = rig.server->process();
        pids.push_back(child->pid());
        rig.server->stop();
        ASSERT_TRUE(rig.waitStopped(child)) << run;
    }
    const std::string text = files::read(rig.paths.engineLog).value_or("");
    EXPECT_EQ(text.rfind("earlier run\n", 0), 0u) << text;
    for (int pid : pids)
        EXPECT_NE(text.find("pid " + std::to_string(pid)), std::string::npos) << text;
    EXPECT_EQ(countOf(text, "listening on http://127.0.0.1:8765/"), 2u) << "stdout too";
    EXPECT_EQ(countOf(text, "SIGTERM received"), 2u) << text;
    EXPECT_EQ(rig.states, (std::vector<S>{S::starting, S::ready, S::starting, S::ready}));
    EXPECT_TRUE(rig.log.lines.empty());
}

TEST(EngineSupervision, ChildGetsTheProgramEnvironmentWithTheEngineEntriesOnTop) {
    REQUIRE_FREE_ENGINE_PORT();
    ::setenv("ZAVREN_ITEST_MARK", "from-parent", 1);
    ::setenv("HF_HUB_OFFLINE", "0", 1);
    EngineRig rig;
    const std::string dir = rig.engineDir("0.5");
    testing::linkPython(dir);
    testing::writeFile(rig.paths.termsFile, "张三\nKubernetes\n");
    rig.server->start();
    bool ready = rig.waitFor(S::ready);
    ::unsetenv("ZAVREN_ITEST_MARK");
    ::unsetenv("HF_HUB_OFFLINE");
    ASSERT_TRUE(ready);
    auto env = environOf(rig.server->process()->pid());
    EXPECT_EQ(env["ZAVREN_ITEST_MARK"], "from-parent");
    EXPECT_EQ(env["HF_HUB_OFFLINE"], "1");
    EXPECT_EQ(env["TRANSFORMERS_OFFLINE"], "1");
    EXPECT_EQ(env["ZAVREN_PORT"], "8765");
    EXPECT_EQ(env["ZAVREN_TERMS"], "张三 Kubernetes");
    EXPECT_EQ(env["HF_HOME"], dir + "/models");
    EXPECT_EQ(rig.server->currentKind(), EngineKind::python);
}

TEST(EngineSupervision, StaleCopyIsKilledButALookalikeIsNot) {
    REQUIRE_FREE_ENGINE_PORT();
    EngineRig rig;
    // "." and "+" in the path: as a regular expression it would match the lookalike.
    const std::string dir = rig.engineDir("1.0+b");
    testing::linkLlama(dir);
    auto resolved = rig.server->resolve();
    ASSERT_TRUE(resolved);

    std::optional<int> staleStatus;
    auto stale =
        rig.processes.launch({resolved->exec, resolved->args, rig.processes.environment(), -1},
                             [&](int s) { rig.loop.post([&, s] { staleStatus = s; }); });
    ASSERT_TRUE(stale.child);
    rig.extras.push_back(stale.child);
    ASSERT_TRUE(rig.loop.runUntil([] { return testing::portTaken(); }, seconds(10)));

    const std::string lookalikePath = rig.engineDir("1X00b") + "/bin/llama-server";
    auto lookalike = rig.processes.launch(
        {"/usr/bin/python3", {"-c", "import time; time.sleep(60)", lookalikePath}, {}, -1}, {});
    ASSERT_TRUE(lookalike.child);
    rig.extras.push_back(lookalike.child);

    rig.server->start();
    ASSERT_TRUE(rig.waitFor(S::ready));
    ASSERT_TRUE(rig.waitStopped(stale.child));
    rig.loop.runUntil([&] { return staleStatus.has_value(); }, seconds(2));
    EXPECT_EQ(staleStatus, SIGKILL);
    EXPECT_NE(rig.server->process()->pid(), stale.child->pid());
    EXPECT_TRUE(rig.server->process()->isRunning());
    EXPECT_TRUE(lookalike.child->isRunning()) << "a path must match only itself";
}

TEST(EngineSupervision, AnEngineIgnoringSigtermIsKilledOneAndAHalfSecondsAfterStop) {
    REQUIRE_FREE_ENGINE_PORT();
    EngineRig rig;
    testing::linkLlama(rig.engineDir("1"), R"({"ignore_sigterm": true})");
    rig.server->start();
    ASSERT_TRUE(rig.waitFor(S::ready));
    auto child = rig.server->process();
    const auto begin = std::chrono::steady_clock::now();
    rig.server->stop();
    ASSERT_TRUE(rig.waitStopped(child, 6));
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_GE(took, 1.4);
    EXPECT_LT(took, 3.0);
    rig.loop.runFor(seconds(0.3));
    EXPECT_EQ(rig.states, (std::vector<S>{S::starting, S::ready})) << "silent after stop";
    EXPECT_TRUE(rig.log.lines.empty());
    EXPECT_NE(files::read(rig.paths.engineLog).value_or("").find("SIGTERM ignored"),
              std::string::npos);
}

TEST(EngineSupervision, AnEngineThatDiesAtOnceIsRelaunchedThreeTimes) {
    REQUIRE_FREE_ENGINE_PORT();
    EngineRig rig;
    testing::linkLlama(rig.engineDir("1"), R"({"exit_at_start": 3})");
    rig.server->start();
    rig.loop.runUntil([&] { return rig.log.lines.size() >= 4; }, seconds(20));
    rig.loop.runFor(seconds(2));  // a fifth launch would come 1.5 s after the fourth exit
    EXPECT_EQ(rig.log.lines, std::vector<std::string>(4, "ZAVREN: 引擎意外退出 code=3"));
    EXPECT_EQ(rig.states, (std::vector<S>{S::starting, S::failed, S::starting, S::failed,
                                          S::starting, S::failed, S::starting, S::failed}));
}

}  // namespace
}  // namespace zavren
