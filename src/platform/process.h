#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch.h"

namespace zavren {

struct ProcessSpec {
    std::string exec;
    std::vector<std::string> args;           // without the executable
    std::map<std::string, std::string> env;  // the child's whole environment
    int outputFd = -1;                       // stdout and stderr; -1 inherits both
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
    int status = -1;  // exit status, or the signal number when a signal ended it
    std::string error;
};

class ProcessLauncher {
  public:
    virtual ~ProcessLauncher() = default;
    // onExit runs on a background thread with the termination status (exit code,
    // or the signal number for a signal).
    virtual LaunchResult launch(const ProcessSpec& spec,
                                std::function<void(int status)> onExit) = 0;
    // Runs to completion, blocking the calling thread. Output goes to outputFd.
    virtual RunResult run(const ProcessSpec& spec) = 0;
    virtual std::map<std::string, std::string> environment() const = 0;
};

}  // namespace zavren
