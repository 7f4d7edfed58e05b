#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/resolve.h"
#include "platform/dispatch.h"
#include "platform/folder_watch.h"
#include "platform/http.h"
#include "platform/log.h"
#include "platform/port_owner.h"
#include "platform/process.h"
#include "shared/paths.h"
#include "shared/types.h"

namespace zavren {

// Runs the speech engine as a child process and reports its state: stops stale
// copies of ours found on the port, launches with output appended to the engine log, polls /health
// until it answers 200 or 180 s pass, restarts after unexpected exits (at most three in a row), and
// stops it with SIGTERM, then SIGKILL 1.5 s later if needed.
//
// Nothing is sent to the engine port while another user listens on it: that
// program would receive the user's voice and choose the pasted text.
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
        PortOwners& ports;
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
    // For termination, when the event loop will not run again: SIGTERM, SIGKILL
    // after 1.5 s, and the child reaped before it returns (under 2 s in all).
    void stopAndWait();

    // False, with the failed state, when another user listens on the engine port.
    // Call it before sending anything there.
    bool confirmOwnListener();

    // Restarts the engine when the choice among the installed engines changes,
    // whatever state it is in (after a stop() too); only quitting ends that.
    void followEngineFolder(FolderWatcher& watcher);
    void engineFolderChanged();

    // Always invoked on the main thread, asynchronously.
    std::function<void(EngineState)> onState;
    // Why the state last delivered through onState is failed, for people; empty
    // when no particular cause is known.
    const std::string& problem() const { return problem_; }

    EngineKind currentKind() const { return currentKind_; }
    int restarts() const { return restarts_; }
    bool shuttingDown() const { return shuttingDown_; }
    bool engineAvailable() const { return resolve().has_value(); }
    std::optional<Resolved> resolve() const;
    // The most recently launched child, if any.
    std::shared_ptr<ChildProcess> process() const { return process_; }

    // Makes sure the log folder exists and reopens the log for appending.
    void reopenLog();

  private:
    explicit ServerManager(Deps deps);

    // The resolved launch and the identity of its program file, so a reinstall in
    // place counts as a change.
    struct Choice {
        Resolved resolved;
        std::uint64_t device = 0, inode = 0;
        std::int64_t modified = 0;
        bool operator==(const Choice&) const = default;
    };
    static std::optional<Choice> choiceOf(std::optional<Resolved> resolved);

    void startReplacing(std::shared_ptr<ChildProcess> old);
    void launch(const Resolved& resolved, std::uint64_t launch);
    void writeSeparator(const Resolved& resolved);
    bool strangerListens();
    void pollHealth(TimePoint deadline, std::uint64_t launch);
    void onHealth(const HttpResponse& response, TimePoint deadline, std::uint64_t launch);
    void onChildExit(int status, std::uint64_t launch);
    void report(EngineState state, std::string problem = {});
    void closeLog();

    Deps deps_;
    std::shared_ptr<ChildProcess> process_;
    bool shuttingDown_ = false;
    bool quitting_ = false;  // stopAndWait(): the program is ending
    int restarts_ = 0;
    int logFd_ = -1;
    EngineKind currentKind_ = EngineKind::python;
    // Each start() that replaces the child begins a new launch; callbacks of an
    // earlier one (its exit, its health polls, its scheduled restart) are ignored.
    std::uint64_t launch_ = 0;
    std::optional<Choice> chosen_;
    std::uint64_t folderEvents_ = 0;
    std::unique_ptr<FolderWatch> folderWatch_;
    std::string problem_;
};

// Whether a process listening on the engine port is a copy of our engine: the
// same user, its program (as run, or once links are resolved) or, for an
// interpreter, its script inside one of our engine folders. Only such a process is
// ever signalled.
bool isOurStaleEngine(const PortListener& listener, unsigned uid,
                      const std::vector<std::string>& engineFolders);

}  // namespace zavren
