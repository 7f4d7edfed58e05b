#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace zavren::test {

// A stream socket bound to path (or connected to it); -1 when that fails.
inline int unixSocket(const std::string& path, bool bindIt, int flags = 0) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    auto* a = reinterpret_cast<sockaddr*>(&addr);
    if ((bindIt ? ::bind(fd, a, sizeof addr) : ::connect(fd, a, sizeof addr)) == 0) return fd;
    ::close(fd);
    return -1;
}

inline int listenAt(const std::string& path) {
    const int fd = unixSocket(path, true);
    if (fd >= 0) ::listen(fd, 4);
    return fd;
}

}  // namespace zavren::test
