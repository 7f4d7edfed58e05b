#pragma once

#include <sys/types.h>

#include <string>

#include "platform/process.h"

namespace zavren::process_detail {

// Where a child's standard streams come from; -1 leaves one as this program has it.
struct Streams {
    int in = -1, out = -1, err = -1;
};

// Starts spec as a clean child (see PosixProcessLauncher), spec.outputFd aside;
// the pid, or -1 with a Chinese description of the failure in error.
pid_t spawn(const ProcessSpec& spec, Streams streams, std::string& error);

// The termination status the port promises: the exit code, or the signal number.
int statusFromWait(int waitStatus);

}  // namespace zavren::process_detail
