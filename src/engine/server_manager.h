#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/resolve.h"
#include "platform/dispatch.h"
#include "platform/http.h"
#include "platform/log.h"
#include "platform/process.h"
#include "shared/paths.h"
#include "shared/types.h"

namespace zavren {

// Runs the speech engine as a child process and reports its state: kills stale
// copies, launches with output appended to the engine log, polls /health until it
// answers 200 or 180 s pass, restarts after unexpected exits (at most three in a
// row), and stops it with SIGTERM, then SIGKILL 1.5 s later if needed.
//
// Every public member is for the main thread. Background callbacks (HTTP, the
// reaper) only post to it; all state lives there.
class ServerManager : public std::enable_shared_from_this<ServerManager> {
  public:
    struct Deps {
        Dispatcher& dispatcher;
        HttpClient& http;
        ProcessLauncher& processes;
        SystemLog& log;
        Paths paths;
        std::string devCheckout = DEV_CHECKOUT;
    };

    static constexpr int maxRestarts = 3;

    static std::shared_ptr<ServerManager> create(Deps deps);
    ~ServerManager();
    ServerManager(const ServerManager&) = delete;
    ServerManager& operator=(const ServerManager&) = delete;

    void start();
    void restart();
    void stop();

    // Always invoked on the main thread, asynchronously.
    std::function<void(EngineState)> onState;

    EngineKind currentKind() const { return currentKind_; }
    int restarts() const { return restarts_; }
    bool shuttingDown() const { return shuttingDown_; }
    bool engineAvailable() const { return resolve().has_value(); }
    std::optional<Resolved> resolve() const;
    // The most recently launched child, if any.
    std::shared_ptr<ChildProcess> process() const { return process_; }

    // Makes sure the log folder exists and reopens the log for appending.
    std::string logURL();

  private:
    explicit ServerManager(Deps deps);

    void killStale(const std::string& path);
    void pollHealth(TimePoint deadline, std::uint64_t launch);
    void onHealth(const HttpResponse& response, TimePoint deadline, std::uint64_t launch);
    void onChildExit(int status, std::uint64_t launch);
    void report(EngineState state);
    void closeLog();

    Deps deps_;
    std::shared_ptr<ChildProcess> process_;
    bool shuttingDown_ = false;
    int restarts_ = 0;
    int logFd_ = -1;
    EngineKind currentKind_ = EngineKind::python;
    // Each start() that replaces the child begins a new launch; callbacks of an
    // earlier one (its exit, its health polls, its scheduled restart) are ignored.
    std::uint64_t launch_ = 0;
};

// The pattern that makes `pkill -f` match path literally (it reads an extended
// regular expression).
std::string literalPattern(const std::string& path);

}  // namespace zavren
