#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "wayland/ptt_protocol.h"

namespace zavren {

namespace {

constexpr int ANSWER_TIMEOUT_MS = 2000;

const char* USAGE = "用法: zavren ptt press|release|toggle|cancel\n";

}  // namespace

int pttCommand(const std::vector<std::string>& args, const std::string& socketPath) {
    if (args.size() != 1 || !parsePttWord(args[0])) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "zavren: 控制套接字路径过长: %s\n", socketPath.c_str());
        return 3;
    }
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::fprintf(stderr, "zavren: 没有正在运行的 ZAVREN (%s)\n", socketPath.c_str());
        if (fd >= 0) ::close(fd);
        return 3;
    }
    const std::string line = pttLine(*parsePttWord(args[0]));
    std::string answer;
    if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size())) {
        // A program that hangs must not hang the compositor's binding with it.
        pollfd p{fd, POLLIN, 0};
        char buf[128];
        while (answer.find('\n') == std::string::npos && answer.size() < sizeof buf &&
               ::poll(&p, 1, ANSWER_TIMEOUT_MS) > 0) {
            ssize_t n = ::read(fd, buf, sizeof buf);
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
