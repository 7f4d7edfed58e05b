#include "posix/process_launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "shared/files.h"
#include "unit/engine/engine_layout.h"

namespace zavren {
namespace {

using namespace std::chrono_literals;

// Collects the termination status delivered on the reaper thread.
struct ExitBox {
    std::mutex m;
    std::condition_variable cv;
    std::optional<int> status;
    std::thread::id thread;
    std::function<void(int)> callback() {
        return [this](int s) {
            std::lock_guard lock(m);
            status = s;
            thread = std::this_thread::get_id();
            cv.notify_all();
        };
    }
    std::optional<int> wait(std::chrono::milliseconds limit = 10s) {
        std::unique_lock lock(m);
        cv.wait_for(lock, limit, [this] { return status.has_value(); });
        return status;
    }
};

// isRunning() turns false just after the exit callback has returned.
bool stops(const ChildProcess& child) {
    for (int i = 0; i < 1000 && child.isRunning(); ++i) std::this_thread::sleep_for(1ms);
    return !child.isRunning();
}

ProcessSpec sh(const std::string& script, std::map<std::string, std::string> env = {},
               int fd = -1) {
    return {"/bin/sh", {"-c", script}, std::move(env), fd};
}

TEST(ProcessLauncher, ExitCodeArgumentsEnvironmentAndOutput) {
    testing::TempDir tmp;
    const std::string out = tmp.path + "/out.log";
    int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ::setenv("ZAVREN_PROBE", "parent", 1);
    PosixProcessLauncher launcher;
    ExitBox box;
    auto r = launcher.launch(
        {"/bin/sh",
         {"-c", "echo \"$0|$1|$GREETING|${ZAVREN_PROBE:-none}\"; echo oops >&2; exit 7", "a b",
          "c"},
         {{"GREETING", "你好"}},
         fd},
        box.callback());
    ::close(fd);
    ASSERT_TRUE(r.child) << r.error;
    EXPECT_GT(r.child->pid(), 0);
    EXPECT_EQ(box.wait(), 7);
    EXPECT_NE(box.thread, std::this_thread::get_id());
    EXPECT_TRUE(stops(*r.child));
    ::unsetenv("ZAVREN_PROBE");
    // The environment is exactly the given one: nothing of ours leaks in.
    EXPECT_EQ(files::read(out), "a b|c|你好|none\noops\n");
}

TEST(ProcessLauncher, SignalsEndTheChildAndReportTheSignalNumber) {
    PosixProcessLauncher launcher;
    for (int sig : {SIGTERM, SIGKILL}) {
        ExitBox box;
        auto r = launcher.launch(sh("exec sleep 30"), box.callback());
        ASSERT_TRUE(r.child);
        EXPECT_TRUE(r.child->isRunning());
        sig == SIGTERM ? r.child->terminate() : r.child->kill();
        EXPECT_EQ(box.wait(), sig);
        EXPECT_TRUE(stops(*r.child));
        r.child->kill();  // reaped: must be a harmless no-op
    }
}

TEST(ProcessLauncher, ChildDoesNotInheritBlockedOrIgnoredSignalsNorStrayDescriptors) {
    // This program may block SIGTERM (for its own signal handling) and ignore
    // SIGPIPE; the engine must still end on SIGTERM.
    sigset_t term, old;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &old);
    struct sigaction ign {
    }, oldTerm{};
    ign.sa_handler = SIG_IGN;
    sigaction(SIGTERM, &ign, &oldTerm);

    int leaked = ::open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
    ASSERT_GE(leaked, 3);
    testing::TempDir tmp;
    const std::string out = tmp.path + "/fds";
    int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    PosixProcessLauncher launcher;
    ExitBox box;
    auto r = launcher.launch(sh("if [ -e /proc/self/fd/" + std::to_string(leaked) +
                                    " ]; then echo leaked; else echo clean; fi; exec sleep 30",
                                {}, fd),
                             box.callback());
    ::close(fd);
    ::close(leaked);
    sigaction(SIGTERM, &oldTerm, nullptr);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ASSERT_TRUE(r.child);

    // Wait for the shell's verdict before signalling.
    for (int i = 0; i < 500 && files::read(out).value_or("").empty(); ++i)
        std::this_thread::sleep_for(10ms);
    r.child->terminate();
    auto status = box.wait();
    if (!status) r.child->kill();
    EXPECT_EQ(status, SIGTERM);
    EXPECT_EQ(files::read(out), "clean\n");
}

TEST(ProcessLauncher, LaunchFailureIsReportedNotThrown) {
    PosixProcessLauncher launcher;
    bool called = false;
    auto r = launcher.launch({"/nonexistent/engine", {}, {}, -1}, [&](int) { called = true; });
    EXPECT_FALSE(r.child);
    EXPECT_NE(r.error.find("/nonexistent/engine"), std::string::npos);
    auto run = launcher.run({"/nonexistent/pkill", {}, {}, -1});
    EXPECT_FALSE(run.launched);
    EXPECT_FALSE(run.error.empty());
    EXPECT_FALSE(called);
}

TEST(ProcessLauncher, RunWaitsAndReturnsTheStatus) {
    PosixProcessLauncher launcher;
    EXPECT_EQ(launcher.run(sh("exit 3")).status, 3);
    auto r = launcher.run(sh("kill -9 $$"));
    EXPECT_TRUE(r.launched);
    EXPECT_EQ(r.status, 9);
    EXPECT_TRUE(launcher.environment().count("PATH") || launcher.environment().empty());
}

TEST(ProcessLauncher, ManyShortChildrenAllReportOnce) {
    PosixProcessLauncher launcher;
    std::atomic<int> exits{0}, sum{0};
    std::vector<std::shared_ptr<ChildProcess>> children;
    for (int i = 0; i < 40; ++i) {
        auto r = launcher.launch(sh("exit " + std::to_string(i)), [&](int s) {
            sum += s;
            ++exits;
        });
        ASSERT_TRUE(r.child);
        children.push_back(r.child);
    }
    for (int i = 0; i < 1000 && exits < 40; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(exits.load(), 40);
    EXPECT_EQ(sum.load(), 39 * 40 / 2);
    for (auto& c : children) c->terminate();  // all reaped: no effect on anyone
}

}  // namespace
}  // namespace zavren
