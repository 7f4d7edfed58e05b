#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include "posix/process_launcher.h"
#include "posix/process_spawn.h"

namespace zavren {

namespace {

using Clock = std::chrono::steady_clock;

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// The descriptors of one run, closed with it unless handed on.
struct Plumbing {
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1}, devNull = -1;

    ~Plumbing() {
        for (int* fd : {&in[0], &in[1], &out[0], &out[1], &err[0], &err[1], &devNull}) closeFd(*fd);
    }
    bool open(const RunOptions& options) {
        // A socket rather than a pipe for stdin: send() can then refuse SIGPIPE.
        return ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) == 0 &&
               (devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC)) >= 0 &&
               (options.maxOutput == 0 || ::pipe2(out, O_CLOEXEC) == 0) &&
               (!options.daemonStderr || ::pipe2(err, O_CLOEXEC) == 0);
    }
};

// A bare name is looked up in the absolute directories of the child's PATH: never
// in the working directory.
std::string findProgram(const ProcessSpec& spec) {
    if (spec.exec.find('/') != std::string::npos) return spec.exec;
    const auto path = spec.env.find("PATH");
    if (spec.exec.empty() || path == spec.env.end()) return {};
    std::istringstream dirs(path->second);
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = dir + "/" + spec.exec;
        if (dir.starts_with('/') && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// Feeds the input and collects the output until both are done; false when the
// child must be cut short.
bool exchange(Plumbing& fds, const RunOptions& options, Clock::time_point deadline,
              std::string& output) {
    int& in = fds.in[1];
    int& out = fds.out[0];
    ::fcntl(in, F_SETFL, O_NONBLOCK);
    std::size_t written = 0;
    if (options.input.empty()) closeFd(in);
    while (in >= 0 || out >= 0) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd polled[2] = {{in, POLLOUT, 0}, {out, POLLIN, 0}};
        if (left.count() <= 0 ||
            (::poll(polled, 2, static_cast<int>(left.count())) < 0 && errno != EINTR))
            return false;
        if (polled[0].revents) {
            const ssize_t n = ::send(in, options.input.data() + written,
                                     options.input.size() - written, MSG_NOSIGNAL);
            if (n > 0) written += static_cast<std::size_t>(n);
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == options.input.size())
                closeFd(in);
        }
        if (polled[1].revents) {
            char buf[65536];
            const ssize_t n = ::read(out, buf, sizeof buf);
            if (n == 0 || (n < 0 && errno != EINTR)) {
                closeFd(out);
            } else if (n > 0) {
                if (output.size() + static_cast<std::size_t>(n) > options.maxOutput) return false;
                output.append(buf, static_cast<std::size_t>(n));
            }
        }
    }
    return true;
}

// The child's termination status; past the deadline it is killed and cutShort set.
// Killed before its pipes close, or it might die of SIGPIPE instead; not reaped
// yet, the pid is still our child's.
int reap(pid_t pid, Clock::time_point deadline, bool& cutShort) {
    for (int waitStatus = 0;;) {
        if (cutShort) ::kill(pid, SIGKILL);
        const pid_t done = ::waitpid(pid, &waitStatus, cutShort ? 0 : WNOHANG);
        if (done == pid) return process_detail::statusFromWait(waitStatus);
        if (done < 0 && errno != EINTR) return -1;
        if (done != 0) continue;
        cutShort = Clock::now() >= deadline;
        if (!cutShort) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

RunResult PosixProcessLauncher::run(const ProcessSpec& spec, const RunOptions& options) {
    RunResult result;
    ProcessSpec found = spec;
    found.exec = findProgram(spec);
    Plumbing fds;
    if (found.exec.empty() || !fds.open(options)) {
        result.error = "无法运行 " + spec.exec + ": " +
                       (found.exec.empty() ? "找不到该程序" : std::strerror(errno));
        return result;
    }
    const auto deadline = Clock::now() + options.timeout;
    const pid_t pid =
        process_detail::spawn(found,
                              {fds.in[0], options.maxOutput ? fds.out[1] : fds.devNull,
                               options.daemonStderr ? fds.err[1] : fds.devNull},
                              result.error);
    // Only the child may hold these: our copies would keep its streams from ending.
    for (int* fd : {&fds.in[0], &fds.out[1], &fds.err[1]}) closeFd(*fd);
    if (pid < 0) return result;
    result.launched = true;
    std::swap(result.daemonStderr, fds.err[0]);
    result.cutShort = !exchange(fds, options, deadline, result.output);
    result.status = reap(pid, deadline, result.cutShort);
    return result;
}

}  // namespace zavren
