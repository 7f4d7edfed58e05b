#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch.h"

namespace zavren {

// A real-time main queue for programs without a GUI event loop (command-line
// entries) and for integration tests: the main queue runs on whichever thread
// calls run()/runUntil(); background work runs on a small thread pool.
class RunLoopDispatcher : public Dispatcher {
  public:
    explicit RunLoopDispatcher(unsigned backgroundThreads = 2);
    ~RunLoopDispatcher() override;

    void post(Task task) override;
    void postAfter(Duration delay, Task task) override;
    std::unique_ptr<Timer> repeating(Duration interval, Task task) override;
    void background(Task task) override;
    void backgroundAfter(Duration delay, Task task) override;
    TimePoint now() const override;

    // Runs the main queue until quit().
    void run();
    void quit();
    // Runs the main queue until pred() holds (checked after every task) or the
    // time-out passes; returns pred()'s final value.
    bool runUntil(const std::function<bool()>& pred, Duration timeout);
    void runFor(Duration d);

    struct TimerState;

  private:
    using Key = std::pair<TimePoint, std::uint64_t>;
    void fire(const std::shared_ptr<TimerState>& state, TimePoint due);
    bool runOne(TimePoint until);
    void backgroundWorker();

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::map<Key, Task> mainQueue_;
    std::atomic<std::uint64_t> seq_{0};  // shared by both queues
    bool quit_ = false;

    std::mutex bgMutex_;
    std::condition_variable bgCv_;
    std::map<Key, Task> bgQueue_;
    bool bgStop_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace zavren
