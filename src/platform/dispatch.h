#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace zavren {

using Duration = std::chrono::nanoseconds;
using TimePoint = std::chrono::steady_clock::time_point;
using Task = std::function<void()>;

// Seconds as the Parts state them (0.06, 1.5, 180): seconds(0.06).
constexpr Duration seconds(double s) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}

// A repeating timer; destroying it or calling cancel() stops it for good.
class Timer {
  public:
    virtual ~Timer() = default;
    virtual void cancel() = 0;
};

// The main queue (where all state lives), delayed work on it, a background queue,
// and the only clock the core reads. Everything posted runs asynchronously, never
// inside the call that posts it.
class Dispatcher {
  public:
    virtual ~Dispatcher() = default;

    virtual void post(Task task) = 0;
    virtual void postAfter(Duration delay, Task task) = 0;
    [[nodiscard]] virtual std::unique_ptr<Timer> repeating(Duration interval, Task task) = 0;

    // Concurrent background work (verification, tar, the delayed SIGKILL).
    virtual void background(Task task) = 0;
    virtual void backgroundAfter(Duration delay, Task task) = 0;

    // Monotonic time.
    virtual TimePoint now() const = 0;
};

}  // namespace zavren
