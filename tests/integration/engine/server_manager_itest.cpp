#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "integration/engine/engine_rig.h"
#include "posix/inotify_folder_watcher.h"
#include "shared/files.h"
#include "support/wait_for.h"

namespace zavren {
namespace {

using test::EngineRig;
using S = EngineState;

std::size_t countOf(const std::string& text, const std::string& needle) {
    std::size_t n = 0;
    for (auto p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
    return n;
}

TEST(EngineSupervision, AStaleCopyIsKilledAndEachLaunchIsLoggedAfterEarlierRuns) {
    REQUIRE_FREE_ENGINE_PORT();
    EngineRig rig;
    test::installFakeEngine(rig.engineDir("1.0+b"), true);
    test::writeFile(rig.paths.engineLog, "earlier run\n");
    auto resolved = rig.server->resolve();
    auto stale = rig.processes.launch({resolved->exec, resolved->args, {}, -1}, {});
    ASSERT_TRUE(test::waitFor([] { return test::portTaken(); }));
    for (int run = 0; run < 2; ++run) {
        rig.server->start();
        ASSERT_TRUE(rig.waitFor(S::ready)) << run;
        EXPECT_FALSE(stale.child->isRunning());
        EXPECT_EQ(rig.ports.owner(PORT), ListenerOwner::us);
        rig.server->stopAndWait();
    }
    EXPECT_EQ(rig.ports.owner(PORT), ListenerOwner::nobody);
    const std::string text = files::read(rig.paths.engineLog).value_or("");
    EXPECT_EQ(text.rfind("earlier run\n", 0), 0u) << text;
    EXPECT_EQ(countOf(text, " (llama): " + rig.engineDir("1.0+b") + "/bin/llama-server"), 2u);
    EXPECT_EQ(countOf(text, "listening on"), 2u) << "the engine's output";
}

TEST(EngineSupervision, AListenerOfAnotherUserGetsNoConnection) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
    REQUIRE_FREE_ENGINE_PORT();
    // The socket's owner is whoever creates it.
    ASSERT_EQ(::seteuid(65534), 0);
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0), one = 1;
    ASSERT_EQ(::seteuid(0), 0);
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);  // past earlier connections
    sockaddr_in a{AF_INET, htons(PORT), {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(s, 8), 0);
    {
        EngineRig rig;
        test::installFakeEngine(rig.engineDir("1"), true);
        rig.server->start();
        ASSERT_TRUE(rig.waitFor(S::failed));
        EXPECT_FALSE(rig.server->confirmOwnListener());
        EXPECT_FALSE(rig.server->problem().empty());
    }
    EXPECT_LT(::accept(s, nullptr, nullptr), 0) << "a connection reached the stranger";
    ::close(s);
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
    for (int last = -1; last != changes;
         std::this_thread::sleep_for(std::chrono::milliseconds(300)))
        last = changes;
    const int before = changes;
    std::filesystem::create_directories(dir + "/engine-2");
    EXPECT_TRUE(test::waitFor([&] { return changes > before; })) << "watching the new folder";
}

}  // namespace
}  // namespace zavren
