#include "posix/run_loop.h"

#include <atomic>

namespace zavren {

struct RunLoopDispatcher::TimerState {
    std::atomic<bool> alive{true};
    Task task;
    Duration interval{};
};

namespace {

struct LoopTimer : Timer {
    std::shared_ptr<RunLoopDispatcher::TimerState> state;
    explicit LoopTimer(std::shared_ptr<RunLoopDispatcher::TimerState> s) : state(std::move(s)) {}
    void cancel() override { state->alive = false; }
    ~LoopTimer() override { cancel(); }
};

}  // namespace

RunLoopDispatcher::RunLoopDispatcher(unsigned backgroundThreads) {
    for (unsigned i = 0; i < backgroundThreads; ++i)
        workers_.emplace_back([this] { backgroundWorker(); });
}

RunLoopDispatcher::~RunLoopDispatcher() {
    {
        std::lock_guard lock(bgMutex_);
        bgStop_ = true;
    }
    bgCv_.notify_all();
    for (auto& t : workers_) t.join();
}

TimePoint RunLoopDispatcher::now() const {
    return std::chrono::steady_clock::now();
}

void RunLoopDispatcher::post(Task task) {
    postAfter(Duration::zero(), std::move(task));
}

void RunLoopDispatcher::postAfter(Duration delay, Task task) {
    {
        std::lock_guard lock(mutex_);
        mainQueue_.emplace(Key{now() + delay, seq_++}, std::move(task));
    }
    cv_.notify_all();
}

std::unique_ptr<Timer> RunLoopDispatcher::repeating(Duration interval, Task task) {
    auto state = std::make_shared<TimerState>();
    state->task = std::move(task);
    state->interval = interval;
    TimePoint first = now() + interval;
    postAfter(interval, [this, state, first] { fire(state, first); });
    return std::make_unique<LoopTimer>(state);
}

// Deadlines advance by the interval from the previous deadline, so ticks do not
// drift; a late loop skips missed ticks instead of firing a burst.
void RunLoopDispatcher::fire(const std::shared_ptr<TimerState>& state, TimePoint due) {
    if (!state->alive) return;
    state->task();
    if (!state->alive) return;
    TimePoint next = due + state->interval;
    const TimePoint t = now();
    while (next < t) next += state->interval;
    {
        std::lock_guard lock(mutex_);
        mainQueue_.emplace(Key{next, seq_++}, [this, state, next] { fire(state, next); });
    }
    cv_.notify_all();
}

void RunLoopDispatcher::background(Task task) {
    backgroundAfter(Duration::zero(), std::move(task));
}

void RunLoopDispatcher::backgroundAfter(Duration delay, Task task) {
    {
        std::lock_guard lock(bgMutex_);
        bgQueue_.emplace(Key{now() + delay, seq_++}, std::move(task));
    }
    bgCv_.notify_one();
}

void RunLoopDispatcher::backgroundWorker() {
    std::unique_lock lock(bgMutex_);
    for (;;) {
        if (bgStop_) return;
        if (bgQueue_.empty()) {
            bgCv_.wait(lock);
            continue;
        }
        auto it = bgQueue_.begin();
        if (it->first.first > now()) {
            bgCv_.wait_until(lock, it->first.first);
            continue;
        }
        Task task = std::move(it->second);
        bgQueue_.erase(it);
        lock.unlock();
        task();
        lock.lock();
    }
}

// Runs one due task, waiting for one until `until`. False when none ran.
bool RunLoopDispatcher::runOne(TimePoint until) {
    Task task;
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (quit_) return false;
            const TimePoint t = now();
            if (!mainQueue_.empty() && mainQueue_.begin()->first.first <= t) break;
            if (t >= until) return false;
            TimePoint wake = until;
            if (!mainQueue_.empty()) wake = std::min(wake, mainQueue_.begin()->first.first);
            cv_.wait_until(lock, wake);
        }
        auto it = mainQueue_.begin();
        task = std::move(it->second);
        mainQueue_.erase(it);
    }
    task();
    return true;
}

void RunLoopDispatcher::run() {
    {
        std::lock_guard lock(mutex_);
        quit_ = false;
    }
    while (true) {
        runOne(TimePoint::max());
        std::lock_guard lock(mutex_);
        if (quit_) return;
    }
}

void RunLoopDispatcher::quit() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    cv_.notify_all();
}

bool RunLoopDispatcher::runUntil(const std::function<bool()>& pred, Duration timeout) {
    {
        std::lock_guard lock(mutex_);
        quit_ = false;
    }
    const TimePoint deadline = now() + timeout;
    while (!pred()) {
        if (now() >= deadline) return pred();
        // Wake at least every 10 ms so a predicate fed by another thread is seen.
        runOne(std::min(deadline, now() + std::chrono::milliseconds(10)));
    }
    return true;
}

void RunLoopDispatcher::runFor(Duration d) {
    const TimePoint deadline = now() + d;
    runUntil([&] { return now() >= deadline; }, d + std::chrono::seconds(1));
}

}  // namespace zavren
