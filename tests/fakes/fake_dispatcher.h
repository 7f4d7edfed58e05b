#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "platform/dispatch.h"

namespace zavren::fakes {

// Virtual time: the clock moves only in advance(). Main-queue and background work
// both run on the test thread, due tasks in deadline order (posting order for equal
// deadlines), so every timing rule is instant and deterministic.
class FakeDispatcher : public Dispatcher {
  public:
    FakeDispatcher();

    void post(Task task) override;
    void postAfter(Duration delay, Task task) override;
    std::unique_ptr<Timer> repeating(Duration interval, Task task) override;
    void background(Task task) override;
    void backgroundAfter(Duration delay, Task task) override;
    TimePoint now() const override;

    // Runs everything due now, including what those tasks post for now.
    void runUntilIdle();
    // Moves the clock forward by d, running due tasks at their own times.
    void advance(Duration d);
    void advance(double s) { advance(seconds(s)); }
    // Seconds of virtual time since construction.
    double elapsed() const;

    struct TimerState {
        std::atomic<bool> alive{true};
        Task task;
        Duration interval{};
    };

  private:
    void fire(const std::shared_ptr<TimerState>& state, TimePoint due);
    using Key = std::pair<TimePoint, std::uint64_t>;

    void schedule(TimePoint at, Task task);
    bool runOneDue(TimePoint limit);

    mutable std::mutex mutex_;
    TimePoint start_;
    TimePoint now_;
    std::uint64_t seq_ = 0;
    std::map<Key, Task> queue_;
};

}  // namespace zavren::fakes
