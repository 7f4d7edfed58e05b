#pragma once

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace zavren::testing {

// A cpp-httplib server on 127.0.0.1 with a kernel-chosen port, running on its
// own thread for the life of the object.
class TestServer {
  public:
    httplib::Server server;

    TestServer() = default;
    ~TestServer() { stop(); }

    void start() {
        // WORKAROUND: stop() can miss a listen thread already inside accept();
        // a short idle interval makes the loop re-check its socket.
        server.set_idle_interval(0, 50000);
        port_ = server.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server.listen_after_bind(); });
        // The socket already listens; early connections wait in its backlog.
    }
    void stop() {
        release();
        if (thread_.joinable()) {
            // stop() is a no-op until the accept loop has begun.
            for (int i = 0; i < 5000 && !server.is_running(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            server.stop();
            thread_.join();
        }
    }
    int port() const { return port_; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    // Handlers that stall wait here until the test (or teardown) releases them.
    bool waitForRelease(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [this] { return released_; });
    }
    bool released() {
        std::lock_guard lock(mutex_);
        return released_;
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        cv_.notify_all();
    }

  private:
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool released_ = false;
};

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
    std::size_t size() {
        std::lock_guard lock(mutex_);
        return items_.size();
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<T> items_;
};

// A port on 127.0.0.1 that nothing listens on (bound once, then released).
inline int closedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

}  // namespace zavren::testing
