#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zavren::systest {

using Env = std::map<std::string, std::string>;

// This process's environment with some variables replaced.
Env environmentWith(const Env& overrides);

// A child process stopped (SIGTERM, then SIGKILL) and reaped when this goes.
class Child {
  public:
    Child() = default;
    Child(const std::vector<std::string>& argv, const Env& env, const std::string& outFile,
          const std::string& errFile);
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) noexcept;
    ~Child();

    pid_t pid() const { return pid_; }
    bool running();
    // SIGTERM, then SIGKILL if it has not ended within the grace time; true when
    // it ended by itself within the grace time.
    bool stop(std::chrono::milliseconds grace = std::chrono::milliseconds(5000));

  private:
    pid_t pid_ = -1;
};

// Runs to completion and returns standard output; exitCode gets the status.
std::string capture(const std::vector<std::string>& argv, int* exitCode = nullptr);

// Checks pred every 50 ms until it holds or the time is up.
bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

// Whether GET http://127.0.0.1:port/path answers 200.
bool httpOk(int port, const std::string& path);

}  // namespace zavren::systest
