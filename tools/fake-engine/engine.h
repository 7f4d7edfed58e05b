#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "loopback/loopback_server.h"
#include "request_log.h"
#include "script.h"

namespace zavren::fake {

enum class Mode { llama, python };

struct EngineConfig {
    Mode mode = Mode::llama;
    int port = 8765;
    std::vector<std::string> argv;
};

// The HTTP side of the fake engine: health, the chat form (llama) or the plain
// form (python), everything logged, answers as the script says.
class FakeEngine {
  public:
    FakeEngine(EngineConfig config, Script script, RequestLog& log);

    // Listens on 127.0.0.1 until stop(); returns the process exit status.
    int run();
    // Safe from any thread, also before run() has begun listening.
    void stop();

  private:
    void health(const httplib::Request& req, httplib::Response& res);
    void transcribe(const httplib::Request& req, httplib::Response& res);
    void notFound(const httplib::Request& req, httplib::Response& res);
    nlohmann::json describe(const httplib::Request& req) const;
    // Sleeps unless stop() comes first; returns false when stopped.
    bool pause(int ms);

    EngineConfig config_;
    Script script_;
    RequestLog& log_;
    // Keeps its connections alive, as the real engine does.
    tools::LoopbackServer server_{true};

    std::atomic<int> healthCount_{0};
    std::mutex slot_;  // one parallel slot: transcriptions are answered in turn
    std::size_t transcriptions_ = 0;

    std::mutex stopMutex_;
    std::condition_variable stopCv_;
    bool stopping_ = false;
};

}  // namespace zavren::fake
