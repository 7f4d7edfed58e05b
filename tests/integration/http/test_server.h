#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "loopback/loopback_server.h"

namespace zavren::test {

// Collects values from another thread; waits on them with a deadline.
template <typename T>
class Inbox {
  public:
    void put(T value) {
        // Notify under the lock: a waiter may destroy the inbox as soon as it wakes.
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(value));
        cv_.notify_all();
    }
    bool waitFor(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [&] { return items_.size() >= count; });
    }
    std::vector<T> items() {
        std::lock_guard lock(mutex_);
        return items_;
    }
    std::size_t size() { return items().size(); }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<T> items_;
};

// A loopback server with a kernel-chosen port and its own thread. Handlers that
// stall wait for release(), which teardown also gives.
class TestServer {
  public:
    httplib::Server& server = loopback_.http;

    ~TestServer() {
        release();
        loopback_.stop();
    }
    void start() {
        loopback_.bind();
        loopback_.serveInBackground();
    }
    std::string url(const std::string& path) const { return loopback_.url(path); }
    void waitForRelease() { released_.waitFor(1, std::chrono::seconds(30)); }
    bool released() { return released_.size() > 0; }
    void release() { released_.put(true); }

  private:
    tools::LoopbackServer loopback_;
    Inbox<bool> released_;
};

// A port on 127.0.0.1 that nothing listens on (bound once, then released).
inline int closedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

}  // namespace zavren::test
