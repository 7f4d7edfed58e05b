#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace zavren {

// Reads fd to its end. Nothing when the writer sends more than maxBytes or is
// not done within timeout (then *timedOut is set): a part of a format is worth
// less than none.
std::optional<std::string> readBounded(int fd, std::size_t maxBytes,
                                       std::chrono::milliseconds timeout, bool* timedOut = nullptr);

// Writes to a pipe another client reads, a piece at a time, without ever
// waiting on it. The fd is owned and closed when done or given up.
class PendingWrite {
  public:
    using Clock = std::chrono::steady_clock;

    PendingWrite(int fd, std::shared_ptr<const std::string> bytes, Clock::time_point deadline);
    ~PendingWrite();
    PendingWrite(const PendingWrite&) = delete;
    PendingWrite& operator=(const PendingWrite&) = delete;

    // Writes what the pipe takes now; true once finished, failed or past the deadline.
    bool pump(Clock::time_point now);
    int fd() const { return fd_; }
    Clock::time_point deadline() const { return deadline_; }

  private:
    int fd_;
    std::shared_ptr<const std::string> bytes_;
    std::size_t written_ = 0;
    Clock::time_point deadline_;
};

// For a thread that writes to pipes of other clients: a reader that has gone
// away then fails the write instead of killing the program.
void blockBrokenPipeSignal();

}  // namespace zavren
