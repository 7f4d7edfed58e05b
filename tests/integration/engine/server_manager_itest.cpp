#include <signal.h>
#include <sys/wait.h>

#include <atomic>
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
    EXPECT_EQ(countOf(text, " (llama): " + rig.engineDir("1.0") + "/bin/llama-server"), 2u);
    EXPECT_EQ(countOf(text, "listening on"), 2u) << "the engine's output";
}

TEST(EngineSupervision, AStaleCopyIsKilledBeforeTheLaunch) {
    REQUIRE_FREE_ENGINE_PORT();
    EngineRig rig;
    test::installFakeEngine(rig.engineDir("1.0+b"), true);
    auto resolved = rig.server->resolve();
    auto stale = rig.processes.launch({resolved->exec, resolved->args, {}, -1}, {});
    ASSERT_TRUE(test::waitFor([] { return testing::portTaken(); }));
    rig.server->start();
    ASSERT_TRUE(rig.waitFor(S::ready));
    EXPECT_FALSE(stale.child->isRunning());
}

TEST(EngineSupervision, AnEngineIgnoringSigtermIsGoneWhenTheBlockingStopReturns) {
    REQUIRE_FREE_ENGINE_PORT();
    EngineRig rig;
    test::installFakeEngine(rig.engineDir("1"), true, R"({"ignore_sigterm": true})");
    rig.server->start();
    ASSERT_TRUE(rig.waitFor(S::ready));
    const int pid = rig.server->process()->pid();
    rig.server->stopAndWait();
    EXPECT_NE(::kill(pid, 0), 0) << "killed and reaped";
    EXPECT_NE(files::read(rig.paths.engineLog).value_or("").find("SIGTERM ignored"),
              std::string::npos);
}

// Listens on the engine port as uid 65534 and writes a byte to `out` for each
// connection it accepts.
pid_t listenAsStranger(int out) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    // The socket's owner is whoever creates it: become the stranger first.
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(1);
    int s = ::socket(AF_INET, SOCK_STREAM, 0), one = 1;
    // Past the earlier tests' connections still waiting on the port.
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(s, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
    sockaddr_in a{AF_INET, htons(PORT), {htonl(INADDR_LOOPBACK)}, {}};
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 8) != 0)
        ::_exit(1);
    (void)::write(out, "L", 1);
    for (int c; (c = ::accept(s, nullptr, nullptr)) >= 0; ::close(c)) (void)::write(out, "C", 1);
    ::_exit(0);
}

TEST(EngineSupervision, AListenerOfAnotherUserGetsNoConnection) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
    REQUIRE_FREE_ENGINE_PORT();
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const pid_t stranger = listenAsStranger(pipe[1]);
    auto reap = std::shared_ptr<void>(nullptr, [stranger](void*) {
        ::kill(stranger, SIGKILL);
        ::waitpid(stranger, nullptr, 0);
    });
    ::close(pipe[1]);
    std::string seen(64, '\0');
    ASSERT_EQ(::read(pipe[0], seen.data(), 1), 1) << "the stranger could not listen";
    {
        EngineRig rig;
        test::installFakeEngine(rig.engineDir("1"), true);
        rig.server->start();
        ASSERT_TRUE(rig.waitFor(S::failed));
        rig.loop.runFor(seconds(4));  // our engine cannot bind and exits; no restart follows
        EXPECT_FALSE(rig.server->confirmOwnListener());
        EXPECT_EQ(rig.server->problem(), "端口 8765 被其他用户的程序占用");
        EXPECT_FALSE(rig.server->process()->isRunning());
    }
    reap.reset();
    EXPECT_EQ(::read(pipe[0], seen.data(), seen.size()), 0) << "connections the stranger accepted";
    ::close(pipe[0]);
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
