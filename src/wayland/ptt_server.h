#pragma once

#include <sys/types.h>

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "wayland/ptt_protocol.h"

namespace zavren {

// The uid of the process at the other end of a Unix socket (SO_PEERCRED).
std::optional<uid_t> socketPeerUid(int fd);

// The program's end of the control socket. Single-threaded: the owner polls
// listenFd() and connectionFds() and calls the matching on…Readable().
class PttServer {
  public:
    using PeerUid = std::function<std::optional<uid_t>(int fd)>;
    static constexpr std::size_t MAX_CONNECTIONS = 8;

    explicit PttServer(std::function<void(const PttMessage&)> onCommand,
                       PeerUid peerUid = socketPeerUid);
    ~PttServer();
    PttServer(const PttServer&) = delete;
    PttServer& operator=(const PttServer&) = delete;

    // Binds the socket with mode 0600, replacing a socket left by a dead
    // instance but nothing else. false with a reason on failure.
    bool listen(const std::string& path, std::string& error);

    int listenFd() const { return listenFd_; }
    std::vector<int> connectionFds() const;
    void onListenReadable();
    void onConnectionReadable(int fd);

  private:
    void finish(int fd, const std::string& answer);

    std::function<void(const PttMessage&)> onCommand_;
    PeerUid peerUid_;
    std::string path_;
    int listenFd_ = -1;
    std::map<int, PttLineReader> connections_;
    std::deque<int> order_;  // oldest first, dropped when too many wait
};

}  // namespace zavren
