#include "posix/process_spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace zavren::process_detail {

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (auto& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

void closeFrom(int first, int last, int limit) {
    if (first > last) return;
    if (::close_range(static_cast<unsigned>(first), static_cast<unsigned>(last), 0) == 0) return;
    for (int fd = first; fd <= last && fd < limit; ++fd) ::close(fd);
}

[[noreturn]] void fail(int errorPipe) {
    int err = errno;
    (void)!::write(errorPipe, &err, sizeof err);
    ::_exit(127);
}

// Between fork and exec: async-signal-safe calls only, no allocation.
[[noreturn]] void becomeChild(const ProcessSpec& spec, Streams streams, char* const* argv,
                              char* const* envp, pid_t parent, int errorPipe, int fdLimit) {
    // The engine must not outlive us, even when we are killed outright.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);  // we died before the line above took effect

    // Whatever this program blocks or ignores (SIGTERM for its own handling,
    // SIGPIPE) is not the child's business.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    // Anything among 0, 1 and 2 moves up first, or a dup2 below could replace it.
    if (errorPipe <= STDERR_FILENO) errorPipe = ::fcntl(errorPipe, F_DUPFD_CLOEXEC, 3);
    int from[3] = {streams.in, streams.out, streams.err};
    for (int& fd : from) {
        if (fd >= 0 && fd <= STDERR_FILENO && (fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3)) < 0)
            fail(errorPipe);
    }
    for (int target = 0; target < 3; ++target) {
        if (from[target] >= 0 && ::dup2(from[target], target) < 0) fail(errorPipe);
    }
    // Descriptors opened elsewhere without O_CLOEXEC must not leak into a
    // long-lived engine; the error pipe closes itself at exec.
    closeFrom(3, errorPipe - 1, fdLimit);
    closeFrom(errorPipe + 1, ~0U >> 1, fdLimit);

    ::execve(spec.exec.c_str(), argv, envp);
    fail(errorPipe);
}

}  // namespace

pid_t spawn(const ProcessSpec& spec, Streams streams, std::string& error) {
    std::vector<std::string> argStrings{spec.exec};
    argStrings.insert(argStrings.end(), spec.args.begin(), spec.args.end());
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : spec.env) envStrings.push_back(k + "=" + v);
    auto argv = pointers(argStrings);
    auto envp = pointers(envStrings);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = "无法运行 " + spec.exec + ": " + std::strerror(errno);
        return -1;
    }
    rlimit files{};
    int fdLimit = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 65536
                      ? static_cast<int>(files.rlim_cur)
                      : 65536;
    // No handler of ours may run in the child before it has reset them all (a
    // handler that writes to a self-pipe would report a signal to us).
    sigset_t all, old;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &old);
    const pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid == 0) becomeChild(spec, streams, argv.data(), envp.data(), parent, pipeFds[1], fdLimit);
    int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ::close(pipeFds[1]);
    if (pid < 0) {
        ::close(pipeFds[0]);
        error = "无法运行 " + spec.exec + ": " + std::strerror(forkError);
        return -1;
    }
    // The pipe closes without a word when exec succeeded.
    int childError = 0;
    ssize_t n;
    while ((n = ::read(pipeFds[0], &childError, sizeof childError)) < 0 && errno == EINTR) {
    }
    ::close(pipeFds[0]);
    if (n == static_cast<ssize_t>(sizeof childError)) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        error = "无法运行 " + spec.exec + ": " + std::strerror(childError);
        return -1;
    }
    return pid;
}

int statusFromWait(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return WTERMSIG(waitStatus);
    return -1;
}

}  // namespace zavren::process_detail
