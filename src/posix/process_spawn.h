#pragma once

#include <sys/types.h>

#include <string>

#include "platform/process.h"

namespace zavren::process_detail {

// Starts spec as a clean child (see PosixProcessLauncher); the pid, or -1 with a
// Chinese description of the failure in error.
pid_t spawn(const ProcessSpec& spec, std::string& error);

// The termination status the port promises: the exit code, or the signal number.
int statusFromWait(int waitStatus);

}  // namespace zavren::process_detail
