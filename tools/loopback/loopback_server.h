#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace zavren::tools {

// cpp-httplib on 127.0.0.1, set up the way every loopback server of the tests and
// tools needs it. Register handlers on `http`, then bind() and serve.
class LoopbackServer {
  public:
    // One request per connection: stopping never waits for an idle keep-alive
    // client. An engine double keeps its connections, as the real engine does.
    explicit LoopbackServer(bool keepAlive = false) {
        if (!keepAlive) http.set_keep_alive_max_count(1);
        // WORKAROUND: stop() closes the listening socket, but a listen thread that
        // already read the descriptor can stay blocked in accept() for good.
        // Polling with a short idle interval makes it re-check the socket.
        http.set_idle_interval(0, 50000);
    }
    ~LoopbackServer() { stop(); }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // Binds 127.0.0.1:port (0: the kernel picks one); the port, or 0 when it cannot.
    int bind(int port = 0) {
        if (port == 0) {
            port = http.bind_to_any_port("127.0.0.1");
        } else if (!http.bind_to_port("127.0.0.1", port)) {
            port = 0;
        }
        port_ = port > 0 ? port : 0;
        return port_;
    }
    // Serves on the calling thread until stop().
    void serve() { http.listen_after_bind(); }
    // Serves on a thread of its own. Returns once the loop runs: stop() is a no-op
    // before that, and a stop right after start would hang the join.
    void serveInBackground() {
        thread_ = std::thread([this] {
            http.listen_after_bind();
            ended_ = true;
        });
        while (!http.is_running() && !ended_)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void stop() {
        http.stop();
        if (thread_.joinable()) thread_.join();
    }
    int port() const { return port_; }
    std::string url(const std::string& path = "") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    httplib::Server http;

  private:
    int port_ = 0;
    std::atomic<bool> ended_{false};
    std::thread thread_;
};

}  // namespace zavren::tools
