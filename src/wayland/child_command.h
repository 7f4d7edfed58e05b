#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace zavren {

struct CommandResult {
    bool launched = false;
    int status = -1;        // exit code; -1 when killed or not launched
    bool cutShort = false;  // killed: too much output or past the time limit
    std::string output;     // stdout, at most maxOutput bytes
};

// Runs argv (looked up in PATH) with input on its stdin and waits, killing it
// once it prints more than maxOutput bytes or outlives timeout. With
// captureOutput false, stdout goes to /dev/null: a child that leaves a daemon
// holding the pipe would otherwise keep us waiting. With daemonStderr, stderr
// is a pipe whose read end is left there for the caller to close: it reaches
// end of file only once every process holding it, daemons too, is gone.
CommandResult runCommand(const std::vector<std::string>& argv, const std::string& input,
                         std::size_t maxOutput, std::chrono::milliseconds timeout,
                         bool captureOutput = true, int* daemonStderr = nullptr);

}  // namespace zavren
