#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "integration/engine/engine_rig.h"
#include "posix/inotify_folder_watcher.h"
#include "shared/files.h"
#include "support/wait_for.h"

namespace zavren {
namespace {

using testing::EngineRig;
using S = EngineState;

std::size_t countOf(const std::string& text, const std::string& needle) {
    std::size_t n = 0;
    for (auto p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
    return n;
}

bool alive(int pid) {
    return ::kill(pid, 0) == 0;
}

TEST(EngineSupervision, LogKeepsEarlierRunsAndEachLaunchStartsWithItsCommandLine) {
    REQUIRE_FREE_ENGINE_PORT();
    EngineRig rig;
    test::installFakeEngine(rig.engineDir("1.0"), true);
    testing::writeFile(rig.paths.engineLog, "earlier run\n");
    for (int run = 0; run < 2; ++run) {
        rig.server->start();
        ASSERT_TRUE(rig.waitFor(S::ready)) << run;
        EXPECT_EQ(rig.ports.owner(PORT), ListenerOwner::us);
        rig.server->stopAndWait();
    }
    EXPECT_EQ(rig.ports.owner(PORT), ListenerOwner::nobody);
    const std::string text = files::read(rig.paths.engineLog).value_or("");
    EXPECT_EQ(text.rfind("earlier run\n", 0), 0u) << text;
    EXPECT_EQ(countOf(text, "启动引擎 (llama): " + rig.engineDir("1.0") + "/bin/llama-server"), 2u)
        << text;
    EXPECT_EQ(countOf(text, "listening on http://127.0.0.1:8765/"), 2u) << "the engine's output";
}

TEST(EngineSupervision, ChildGetsTheProgramEnvironmentWithTheEngineEntriesOnTop) {
    REQUIRE_FREE_ENGINE_PORT();
    ::setenv("ZAVREN_ITEST_MARK", "from-parent", 1);
    ::setenv("HF_HUB_OFFLINE", "0", 1);
    EngineRig rig;
    test::installFakeEngine(rig.engineDir("0.5"), false);
    testing::writeFile(rig.paths.termsFile, "张三\nKubernetes\n");
    rig.server->start();
    const bool ready = rig.waitFor(S::ready);
    ::unsetenv("ZAVREN_ITEST_MARK");
    ::unsetenv("HF_HUB_OFFLINE");
    ASSERT_TRUE(ready);
    std::ifstream in("/proc/" + std::to_string(rig.server->process()->pid()) + "/environ");
    std::string env((std::istreambuf_iterator<char>(in)), {});
    for (const char* entry : {"ZAVREN_ITEST_MARK=from-parent", "HF_HUB_OFFLINE=1",
                              "ZAVREN_TERMS=张三 Kubernetes", "ZAVREN_PORT=8765"})
        EXPECT_NE(env.find(std::string(entry) + '\0'), std::string::npos) << entry;
}

TEST(EngineSupervision, StaleCopyIsKilledButALookalikeIsNot) {
    REQUIRE_FREE_ENGINE_PORT();
    EngineRig rig;
    // "." and "+" in the path: as a regular expression it would match the lookalike.
    test::installFakeEngine(rig.engineDir("1.0+b"), true);
    auto resolved = rig.server->resolve();
    ASSERT_TRUE(resolved);
    auto stale = rig.processes.launch({resolved->exec, resolved->args, {}, -1}, {});
    ASSERT_TRUE(test::waitFor([] { return testing::portTaken(); }));
    const std::string lookalike = rig.engineDir("1X00b") + "/bin/llama-server";
    auto other = rig.processes.launch(
        {"/usr/bin/python3", {"-c", "import time; time.sleep(60)", lookalike}, {}, -1}, {});

    rig.server->start();
    ASSERT_TRUE(rig.waitFor(S::ready));
    EXPECT_TRUE(stale.child->waitForExit(seconds(2)));
    EXPECT_TRUE(other.child->isRunning()) << "a path must match only itself";
    other.child->kill();
}

TEST(EngineSupervision, AnEngineIgnoringSigtermIsGoneWhenTheBlockingStopReturns) {
    REQUIRE_FREE_ENGINE_PORT();
    EngineRig rig;
    test::installFakeEngine(rig.engineDir("1"), true, R"({"ignore_sigterm": true})");
    rig.server->start();
    ASSERT_TRUE(rig.waitFor(S::ready));
    const int pid = rig.server->process()->pid();
    const auto begin = std::chrono::steady_clock::now();
    rig.server->stopAndWait();
    ::testing::Test::RecordProperty(
        "stop_ms", static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - begin)
                                        .count()));
    EXPECT_FALSE(alive(pid)) << "killed and reaped";
    EXPECT_NE(files::read(rig.paths.engineLog).value_or("").find("SIGTERM ignored"),
              std::string::npos);
}

// Listens on the engine port as uid 65534 and reports each connection it accepts
// through a pipe.
struct StrangerListener {
    pid_t pid = -1;
    int reports = -1;
    StrangerListener() {
        int p[2];
        if (::pipe(p) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            // The socket's owner is whoever creates it: become the stranger first.
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(1);
            int s = ::socket(AF_INET, SOCK_STREAM, 0);
            int one = 1;
            // Past the earlier tests' connections still waiting on the port.
            ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            ::setsockopt(s, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(PORT);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 8) != 0)
                ::_exit(1);
            (void)::write(p[1], "L", 1);
            for (int c; (c = ::accept(s, nullptr, nullptr)) >= 0; ::close(c))
                (void)::write(p[1], "C", 1);
            ::_exit(0);
        }
        ::close(p[1]);
        reports = p[0];
    }
    ~StrangerListener() {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ::close(reports);
    }
    std::string drain() {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        std::string got(64, '\0');
        got.resize(static_cast<std::size_t>(std::max<ssize_t>(0, ::read(reports, got.data(), 64))));
        return got;
    }
};

TEST(EngineSupervision, AListenerOfAnotherUserGetsNoConnection) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
    REQUIRE_FREE_ENGINE_PORT();
    StrangerListener stranger;
    char ready = 0;
    ASSERT_EQ(::read(stranger.reports, &ready, 1), 1) << "the stranger could not listen";
    EngineRig rig;
    test::installFakeEngine(rig.engineDir("1"), true);
    EXPECT_EQ(rig.ports.owner(PORT), ListenerOwner::stranger);
    rig.server->start();
    ASSERT_TRUE(rig.waitFor(S::failed));
    rig.loop.runFor(seconds(4));  // our engine cannot bind and exits; no restart follows
    EXPECT_FALSE(rig.server->confirmOwnListener());
    EXPECT_EQ(rig.server->problem(), "端口 8765 被其他用户的程序占用");
    EXPECT_FALSE(rig.server->process()->isRunning());
    EXPECT_EQ(stranger.drain(), "") << "connections accepted by the stranger";
}

TEST(FolderWatch, SeesEntriesComeAndGoAndTheFolderMadeAnew) {
    test::TempDir tmp;
    const std::string dir = tmp / "data/engine";
    std::atomic<int> changes{0};
    InotifyFolderWatcher watcher;
    auto watch = watcher.watch(dir, [&] { ++changes; });
    ASSERT_TRUE(watch);
    std::filesystem::create_directories(dir + "/engine-1");
    ASSERT_TRUE(test::waitFor([&] { return changes > 0; }));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    // Let the events of the removal and the creation arrive first.
    for (int last = -1; last != changes;) {
        last = changes;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    const int before = changes;
    std::filesystem::create_directories(dir + "/engine-2");
    EXPECT_TRUE(test::waitFor([&] { return changes > before; })) << "watching the new folder";
}

}  // namespace
}  // namespace zavren
