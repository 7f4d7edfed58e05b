#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>

#include "platform/dispatch.h"

namespace zavren::fakes {

// Virtual time: the clock moves only in advance(). Main-queue and background work
// both run on the test thread, due tasks in deadline order (posting order for equal
// deadlines), so every timing rule is instant and deterministic.
class FakeDispatcher : public Dispatcher {
  public:
    void post(Task task) override { postAfter(Duration::zero(), std::move(task)); }
    void postAfter(Duration delay, Task task) override;
    std::unique_ptr<Timer> repeating(Duration interval, Task task) override;
    void background(Task task) override { post(std::move(task)); }
    void backgroundAfter(Duration d, Task task) override { postAfter(d, std::move(task)); }
    TimePoint now() const override;

    // Runs everything due now, including what those tasks post for now.
    void runUntilIdle() { advance(Duration::zero()); }
    // Moves the clock forward by d, running due tasks at their own times.
    void advance(Duration d);
    void advance(double s) { advance(seconds(s)); }
    // Seconds of virtual time since construction.
    double elapsed() const { return std::chrono::duration<double>(now() - START).count(); }

  private:
    // Far from the clock's epoch so code that subtracts durations never underflows.
    static constexpr TimePoint START = TimePoint() + std::chrono::hours(24);
    using Alive = std::shared_ptr<std::atomic<bool>>;
    void tick(Alive alive, Duration interval, std::shared_ptr<Task> task, TimePoint due);

    mutable std::mutex mutex_;
    TimePoint now_ = START;
    std::uint64_t seq_ = 0;
    std::map<std::pair<TimePoint, std::uint64_t>, Task> queue_;
};

}  // namespace zavren::fakes
