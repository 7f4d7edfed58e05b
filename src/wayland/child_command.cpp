#include "wayland/child_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace zavren {

namespace {

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

CommandResult runCommand(const std::vector<std::string>& argv, const std::string& input,
                         std::size_t maxOutput, std::chrono::milliseconds timeout,
                         bool captureOutput, int* daemonStderr) {
    CommandResult result;
    if (daemonStderr) *daemonStderr = -1;
    if (argv.empty()) return result;
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    // A socket rather than a pipe for stdin: a child that exits early must not
    // raise SIGPIPE in the program (send() with MSG_NOSIGNAL).
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) return result;
    if (captureOutput && ::pipe2(out, O_CLOEXEC) != 0) {
        closeFd(in[0]);
        closeFd(in[1]);
        return result;
    }
    if (daemonStderr && ::pipe2(err, O_CLOEXEC) != 0) {
        closeFd(in[0]);
        closeFd(in[1]);
        closeFd(out[0]);
        closeFd(out[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    if (captureOutput)
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (daemonStderr)
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    else
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // The child (and any daemon it leaves) must not hold our sockets and files.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    closeFd(in[0]);
    closeFd(out[1]);
    closeFd(err[1]);
    if (rc != 0) {
        closeFd(in[1]);
        closeFd(out[0]);
        closeFd(err[0]);
        return result;
    }
    result.launched = true;
    if (daemonStderr) *daemonStderr = err[0];
    ::fcntl(in[1], F_SETFL, O_NONBLOCK);

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t written = 0;
    if (input.empty()) closeFd(in[1]);
    while (in[1] >= 0 || out[0] >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.cutShort = true;
            break;
        }
        pollfd fds[2] = {{in[1], POLLOUT, 0}, {out[0], POLLIN, 0}};
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
        if (fds[0].revents) {
            ssize_t n = ::send(in[1], input.data() + written, input.size() - written, MSG_NOSIGNAL);
            if (n > 0) written += static_cast<std::size_t>(n);
            if (n < 0 && errno != EAGAIN) closeFd(in[1]);
            if (written == input.size()) closeFd(in[1]);
        }
        if (fds[1].revents) {
            char buf[65536];
            ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n <= 0) {
                closeFd(out[0]);
            } else if (result.output.size() + static_cast<std::size_t>(n) > maxOutput) {
                result.cutShort = true;
                break;
            } else {
                result.output.append(buf, static_cast<std::size_t>(n));
            }
        }
    }
    closeFd(in[1]);
    closeFd(out[0]);
    if (result.cutShort) ::kill(pid, SIGKILL);
    // stdout closed is not the end: wait for the exit, still within the limit.
    int status = 0;
    for (;;) {
        pid_t done = ::waitpid(pid, &status, result.cutShort ? 0 : WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return result;
        if (done == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                result.cutShort = true;
                ::kill(pid, SIGKILL);
                continue;
            }
            ::usleep(1000);
        }
    }
    if (!result.cutShort && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    return result;
}

}  // namespace zavren
