#pragma once

#include "platform/process.h"

namespace zavren {

// Child processes through fork and exec. The child gets exactly the given
// arguments and environment, its standard streams as asked, default
// signal dispositions and an empty signal mask (whatever this program blocks or
// ignores, such as SIGTERM for its own signal handling, is not passed on), and no
// other descriptor than 0, 1 and 2. Every child receives SIGTERM when this
// program dies, however it dies; launch() forks from one thread that lives as
// long as the program, run() from the caller's thread, which waits for the child.
//
// Each launched child has a reaper thread that waits for it and delivers its
// termination status. Signals are sent only while the child is known not to be
// reaped, so a pid that the system has handed to another process is never hit.
// isRunning() turns false only once the termination callback has returned.
class PosixProcessLauncher : public ProcessLauncher {
  public:
    LaunchResult launch(const ProcessSpec& spec, std::function<void(int status)> onExit) override;
    // Standard input is a socket, so a child that stops reading cannot raise
    // SIGPIPE here. A child cut short is killed with SIGKILL.
    RunResult run(const ProcessSpec& spec, const RunOptions& options) override;
    std::map<std::string, std::string> environment() const override;
};

}  // namespace zavren
