#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "wayland/ptt_protocol.h"

namespace zavren {

namespace {

// Everything, connect included: a stopped program must not hang the compositor's binding.
constexpr auto TOTAL_TIMEOUT = std::chrono::milliseconds(2000);

const char* USAGE = "用法: zavren ptt press|release|toggle|cancel\n";

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for events on fd until the deadline; false on timeout or error.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        int n = ::poll(&p, 1, remainingMs(deadline));
        if (n < 0 && errno == EINTR) continue;
        return n > 0;
    }
}

bool connectWithin(int fd, const sockaddr_un& addr, Clock::time_point deadline) {
    for (;;) {
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return true;
        if (errno == EINTR) continue;
        // A full backlog: the program is not accepting (stopped, or busy) yet.
        if (errno != EAGAIN) break;
        const int left = remainingMs(deadline);
        if (left == 0) return false;
        ::poll(nullptr, 0, left < 50 ? left : 50);
    }
    if (errno != EINPROGRESS || !waitFor(fd, POLLOUT, deadline)) return false;
    int err = 0;
    socklen_t len = sizeof err;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
}

// Another user's listener in a shared folder must not hear our commands.
bool listenerIsUs(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == ::geteuid();
}

}  // namespace

int pttCommand(const std::vector<std::string>& args, const std::string& socketPath) {
    if (args.size() != 1 || !parsePttWord(args[0])) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    const auto deadline = Clock::now() + TOTAL_TIMEOUT;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "zavren: 控制套接字路径过长: %s\n", socketPath.c_str());
        return 3;
    }
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || !connectWithin(fd, addr, deadline)) {
        std::fprintf(stderr, "zavren: 没有正在运行的 ZAVREN (%s)\n", socketPath.c_str());
        if (fd >= 0) ::close(fd);
        return 3;
    }
    if (!listenerIsUs(fd)) {
        std::fprintf(stderr, "zavren: 控制套接字属于其他用户,未发送 (%s)\n", socketPath.c_str());
        ::close(fd);
        return 3;
    }
    const std::string line = pttLine(*parsePttWord(args[0]));
    std::string answer;
    if (waitFor(fd, POLLOUT, deadline) &&
        ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size())) {
        char buf[128];
        while (answer.find('\n') == std::string::npos && answer.size() < sizeof buf &&
               waitFor(fd, POLLIN, deadline)) {
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) break;
            answer.append(buf, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    if (answer.rfind("ok\n", 0) == 0) return 0;
    answer = answer.substr(0, answer.find('\n'));
    std::fprintf(stderr, "zavren: 程序未接受命令%s%s\n", answer.empty() ? "" : ": ",
                 answer.c_str());
    return 1;
}

}  // namespace zavren
