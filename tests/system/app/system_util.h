#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace zavren::systest {

// Runs a shell command; its exit status.
int sh(const std::string& command);
// Output of a shell command, trailing newline removed.
std::string shOut(const std::string& command);
// Pumps the Qt event loop (when there is one) until pred() holds or the time is up.
bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

}  // namespace zavren::systest
