#include "posix/process_launcher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "shared/files.h"
#include "support/run_program.h"
#include "support/wait_for.h"

namespace zavren {
namespace {

using namespace std::chrono_literals;

ProcessSpec sh(const std::string& script, int fd = -1,
               std::map<std::string, std::string> env = {}) {
    return {"/bin/sh", {"-c", script}, std::move(env), fd};
}

// Launches spec; the exit status once it has been delivered, with isRunning()
// already false as the port promises.
std::optional<int> launchAndWait(PosixProcessLauncher& launcher, const ProcessSpec& spec,
                                 const std::function<void(ChildProcess&)>& then = {}) {
    auto status = std::make_shared<std::promise<int>>();
    auto r = launcher.launch(spec, [status](int s) { status->set_value(s); });
    EXPECT_TRUE(r.child) << r.error;
    if (!r.child) return std::nullopt;
    if (then) then(*r.child);
    auto done = status->get_future();
    if (done.wait_for(10s) != std::future_status::ready) return std::nullopt;
    EXPECT_TRUE(test::waitFor([&] { return !r.child->isRunning(); }));
    r.child->kill();  // reaped: must be a harmless no-op
    return done.get();
}

TEST(ProcessLauncher, ChildGetsExactlyItsArgumentsEnvironmentAndOutput) {
    test::TempDir tmp;
    int fd = ::open((tmp / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    int low = ::open("/dev/null", O_RDONLY), high = ::fcntl(low, F_DUPFD, 200);  // no O_CLOEXEC
    ::setenv("ZAVREN_PROBE", "parent", 1);
    // This program may block SIGTERM (for its own signal handling) and ignore
    // SIGPIPE; the child must still end on SIGTERM.
    sigset_t term, old;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &old);
    const auto oldHandler = ::signal(SIGTERM, SIG_IGN);
    PosixProcessLauncher launcher;
    const std::string fds =
        "/proc/$$/fd/" + std::to_string(low) + " -o -e /proc/$$/fd/" + std::to_string(high);
    auto status =
        launchAndWait(launcher, {"/bin/sh",
                                 {"-c",
                                  "echo \"$0|$1|$G|${ZAVREN_PROBE:-none}\"; echo oops >&2; [ -e " +
                                      fds + " ] && echo leaked; kill -TERM $$; exit 7",
                                  "a b", "c"},
                                 {{"G", "你好"}},
                                 fd});
    ::signal(SIGTERM, oldHandler);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ::unsetenv("ZAVREN_PROBE");
    for (int open : {fd, low, high}) ::close(open);
    EXPECT_EQ(status, SIGTERM) << "the signal was blocked or ignored in the child";
    EXPECT_EQ(files::read(tmp / "out"), "a b|c|你好|none\noops\n");
}

TEST(ProcessLauncher, SignalsAndFailuresAreReported) {
    PosixProcessLauncher launcher;
    EXPECT_EQ(launchAndWait(launcher, sh("exec sleep 30"), [](auto& c) { c.terminate(); }),
              SIGTERM);
    EXPECT_EQ(launchAndWait(launcher, sh("exec sleep 30"), [](auto& c) { c.kill(); }), SIGKILL);
    auto r = launcher.launch({"/nonexistent/engine", {}, {}, -1}, [](int) { FAIL(); });
    EXPECT_FALSE(r.child);
    EXPECT_NE(r.error.find("/nonexistent/engine"), std::string::npos);
    // A bare name comes from an absolute directory of PATH, never the working one.
    const std::map<std::string, std::string> path{{"PATH", "bin:/usr/bin:/bin"}};
    EXPECT_EQ(launcher.run({"sh", {"-c", "exit 3"}, path}, {}).status, 3);
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path("/");
    for (const ProcessSpec& missing :
         {ProcessSpec{"/nonexistent/sh", {}, {}}, ProcessSpec{"sh", {}, {{"PATH", "bin"}}},
          ProcessSpec{"zavren-no-such-program", {}, path}}) {
        auto r = launcher.run(missing, {});
        EXPECT_FALSE(r.launched) << missing.exec;
        EXPECT_NE(r.error.find(missing.exec), std::string::npos);
    }
    std::filesystem::current_path(cwd);
}

TEST(ProcessLauncher, RunFeedsInputKeepsOutputAndCutsShort) {
    struct Case {
        const char* script;
        RunOptions options;
        int status;
        bool cutShort;
        std::string output;
    };
    const Case cases[] = {
        {"cat; echo oops >&2; exit 4", {.input = "你好", .maxOutput = 64}, 4, false, "你好"},
        // It stops reading: the rest of the input must not raise SIGPIPE here.
        {"exit 0", {.input = std::string(1 << 20, 'x')}, 0, false, ""},
        {"kill -9 $$", {}, SIGKILL, false, ""},
        {"yes", {.maxOutput = 4096}, SIGKILL, true, ""},
        // Its output ending is not its end.
        {"exec >&-; sleep 30", {.maxOutput = 64, .timeout = 300ms}, SIGKILL, true, ""},
        // A daemon it leaves with output to /dev/null is not waited for.
        {"sleep 4 & exit 0", {.timeout = 2s}, 0, false, ""},
    };
    PosixProcessLauncher launcher;
    for (const auto& c : cases) {
        auto r = launcher.run(sh(c.script), c.options);
        EXPECT_TRUE(r.launched) << c.script;
        EXPECT_EQ(r.status, c.status) << c.script;
        EXPECT_EQ(r.cutShort, c.cutShort) << c.script;
        EXPECT_LE(r.output.size(), c.options.maxOutput) << c.script;
        if (!c.cutShort) {
            EXPECT_EQ(r.output, c.output) << c.script;
        }
        EXPECT_EQ(r.daemonStderr, -1);
    }
}

TEST(ProcessLauncher, DaemonStderrEndsWithTheLastProcessHoldingIt) {
    PosixProcessLauncher launcher;
    auto r = launcher.run(sh("(sleep 2; echo bye >&2) & echo hi >&2"), {.daemonStderr = true});
    ASSERT_TRUE(r.status == 0 && r.daemonStderr >= 0) << r.status;
    char said[16];
    EXPECT_EQ(::read(r.daemonStderr, said, 3), 3);  // hi
    pollfd waiting{r.daemonStderr, POLLIN, 0};
    EXPECT_EQ(::poll(&waiting, 1, 0), 0) << "ended before the daemon";
    EXPECT_EQ(::read(r.daemonStderr, said, sizeof said), 4);  // bye, once the daemon speaks
    EXPECT_EQ(::read(r.daemonStderr, said, sizeof said), 0);
    ::close(r.daemonStderr);
}

// Run by the test below as a program of its own: launches an engine from a
// thread that ends at once, reports the engine's pid and waits to be killed.
TEST(ProcessLauncher, HelperParent) {
    const char* fd = std::getenv("ZAVREN_REPORT_FD");
    if (!fd) GTEST_SKIP() << "runs only as the parent of the test below";
    PosixProcessLauncher launcher;
    std::shared_ptr<ChildProcess> child;
    std::thread([&] { child = launcher.launch(sh("exec sleep 30"), {}).child; }).join();
    int pid = child ? child->pid() : -1;
    (void)!::write(std::atoi(fd), &pid, sizeof pid);
    ::pause();
}

TEST(ProcessLauncher, ChildEndsWithinASecondOfItsParentsDeath) {
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);  // the orphan comes to us
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t parent = test::spawn({std::filesystem::read_symlink("/proc/self/exe"),
                                      "--gtest_filter=ProcessLauncher.HelperParent"},
                                     {{"ZAVREN_REPORT_FD", std::to_string(report[1])}}, "/dev/null",
                                     "/dev/null", "/dev/null");
    ::close(report[1]);
    int engine = -1;
    pollfd ready{report[0], POLLIN, 0};
    if (::poll(&ready, 1, 10000) == 1) (void)!::read(report[0], &engine, sizeof engine);
    ::close(report[0]);
    ::kill(parent, SIGKILL);
    ::waitpid(parent, nullptr, 0);
    ASSERT_GT(engine, 0) << "the helper reported no engine";

    // Reaping it here also proves it outlived the thread that launched it:
    // had it died then, its own parent would have reaped it.
    int status = 0;
    bool gone = test::waitFor([&] { return ::waitpid(engine, &status, WNOHANG) != 0; }, 1s);
    if (!gone) ::kill(engine, SIGKILL);
    EXPECT_TRUE(gone);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
}

}  // namespace
}  // namespace zavren
