#include "fakes/fake_dispatcher.h"

namespace zavren::fakes {

namespace {

struct FakeTimer : Timer {
    std::shared_ptr<FakeDispatcher::TimerState> state;
    explicit FakeTimer(std::shared_ptr<FakeDispatcher::TimerState> s) : state(std::move(s)) {}
    void cancel() override { state->alive = false; }
    ~FakeTimer() override { cancel(); }
};

}  // namespace

// Start far from the clock's epoch so code that subtracts durations never underflows.
FakeDispatcher::FakeDispatcher() : start_(TimePoint() + std::chrono::hours(24)), now_(start_) {}

void FakeDispatcher::schedule(TimePoint at, Task task) {
    std::lock_guard lock(mutex_);
    queue_.emplace(Key{at, seq_++}, std::move(task));
}

void FakeDispatcher::post(Task task) {
    schedule(now(), std::move(task));
}

void FakeDispatcher::postAfter(Duration delay, Task task) {
    schedule(now() + delay, std::move(task));
}

void FakeDispatcher::background(Task task) {
    post(std::move(task));
}

void FakeDispatcher::backgroundAfter(Duration delay, Task task) {
    postAfter(delay, std::move(task));
}

std::unique_ptr<Timer> FakeDispatcher::repeating(Duration interval, Task task) {
    auto state = std::make_shared<TimerState>();
    state->task = std::move(task);
    state->interval = interval;
    TimePoint first = now() + interval;
    schedule(first, [this, state, first] { fire(state, first); });
    return std::make_unique<FakeTimer>(state);
}

// Each firing schedules the next at its own deadline + interval, so ticks never drift.
void FakeDispatcher::fire(const std::shared_ptr<TimerState>& state, TimePoint due) {
    if (!state->alive) return;
    state->task();
    if (!state->alive) return;
    TimePoint next = due + state->interval;
    schedule(next, [this, state, next] { fire(state, next); });
}

TimePoint FakeDispatcher::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

bool FakeDispatcher::runOneDue(TimePoint limit) {
    Task task;
    {
        std::lock_guard lock(mutex_);
        if (queue_.empty() || queue_.begin()->first.first > limit) return false;
        auto it = queue_.begin();
        if (it->first.first > now_) now_ = it->first.first;
        task = std::move(it->second);
        queue_.erase(it);
    }
    task();
    return true;
}

void FakeDispatcher::runUntilIdle() {
    while (runOneDue(now())) {
    }
}

void FakeDispatcher::advance(Duration d) {
    const TimePoint target = now() + d;
    while (runOneDue(target)) {
    }
    std::lock_guard lock(mutex_);
    now_ = target;
}

double FakeDispatcher::elapsed() const {
    return std::chrono::duration<double>(now() - start_).count();
}

}  // namespace zavren::fakes
