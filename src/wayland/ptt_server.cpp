#include "wayland/ptt_server.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zavren {

std::optional<uid_t> socketPeerUid(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return std::nullopt;
    return cred.uid;
}

PttServer::PttServer(std::function<void(const PttMessage&)> onCommand, PeerUid peerUid)
    : onCommand_(std::move(onCommand)), peerUid_(std::move(peerUid)) {}

PttServer::~PttServer() {
    for (auto& [fd, reader] : connections_) ::close(fd);
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        ::unlink(path_.c_str());
    }
}

bool PttServer::listen(const std::string& path, std::string& error) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        error = "控制套接字路径过长: " + path;
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode) || st.st_uid != ::getuid()) {
            error = "控制套接字位置被其他文件占用: " + path;
            return false;
        }
        ::unlink(path.c_str());
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, 16) != 0) {
        error = "无法打开控制套接字 " + path + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    listenFd_ = fd;
    path_ = path;
    return true;
}

std::vector<int> PttServer::connectionFds() const {
    return {order_.begin(), order_.end()};
}

void PttServer::onListenReadable() {
    for (;;) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        // Another local user must not be able to start or stop a recording.
        auto uid = peerUid_(fd);
        if (!uid || *uid != ::getuid()) {
            ::close(fd);
            continue;
        }
        if (order_.size() >= MAX_CONNECTIONS) finish(order_.front(), "error: busy\n");
        connections_.emplace(fd, PttLineReader{});
        order_.push_back(fd);
    }
}

void PttServer::onConnectionReadable(int fd) {
    auto it = connections_.find(fd);
    if (it == connections_.end()) return;
    char buf[256];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) return finish(fd, "");
    switch (it->second.feed({buf, static_cast<std::size_t>(n)})) {
        case PttLineReader::LineStatus::incomplete:
            return;
        case PttLineReader::LineStatus::tooLong:
            return finish(fd, "error: line too long\n");
        case PttLineReader::LineStatus::done:
            break;
    }
    auto message = parsePttLine(it->second.line());
    if (!message) return finish(fd, "error: unknown command\n");
    finish(fd, "ok\n");
    onCommand_(*message);
}

void PttServer::finish(int fd, const std::string& answer) {
    // Best effort: a client that is gone or not reading loses only the answer.
    if (!answer.empty()) (void)!::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    ::close(fd);
    connections_.erase(fd);
    order_.erase(std::remove(order_.begin(), order_.end(), fd), order_.end());
}

}  // namespace zavren
