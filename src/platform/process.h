#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch.h"

namespace zavren {

struct ProcessSpec {
    std::string exec;                        // run() looks a bare name up in PATH
    std::vector<std::string> args;           // without the executable
    std::map<std::string, std::string> env;  // the child's whole environment
    int outputFd = -1;                       // launch(): stdout and stderr; -1 inherits both
};

// A blocking run's standard streams and limits. Standard error goes to
// /dev/null, or with daemonStderr to a pipe whose read end the caller gets: it
// ends only once every process holding it, daemons the child left too, is gone.
struct RunOptions {
    std::string input{};        // standard input, then its end
    std::size_t maxOutput = 0;  // standard output kept; 0 sends it to /dev/null
    Duration timeout = std::chrono::seconds(10);
    bool daemonStderr = false;
};

class ChildProcess {
  public:
    virtual ~ChildProcess() = default;
    virtual int pid() const = 0;
    virtual bool isRunning() const = 0;
    virtual void terminate() = 0;  // SIGTERM
    virtual void kill() = 0;       // SIGKILL
    // Blocks until the child has been reaped or `limit` passed; true when reaped.
    virtual bool waitForExit(Duration limit) = 0;
};

struct LaunchResult {
    std::shared_ptr<ChildProcess> child;  // null when the launch failed
    std::string error;                    // why, when it failed
};

struct RunResult {
    bool launched = false;
    int status = -1;        // exit status, or the signal number when a signal ended it
    bool cutShort = false;  // killed for printing past maxOutput or outliving the timeout
    std::string output{};   // standard output, at most maxOutput bytes
    std::string error{};    // why the launch failed
    int daemonStderr = -1;  // with RunOptions::daemonStderr, for the caller to close
};

class ProcessLauncher {
  public:
    virtual ~ProcessLauncher() = default;
    // onExit runs on a background thread with the termination status (exit code,
    // or the signal number for a signal).
    virtual LaunchResult launch(const ProcessSpec& spec,
                                std::function<void(int status)> onExit) = 0;
    // Runs to completion or until cut short, blocking the calling thread.
    virtual RunResult run(const ProcessSpec& spec, const RunOptions& options) = 0;
    virtual std::map<std::string, std::string> environment() const = 0;
};

}  // namespace zavren
