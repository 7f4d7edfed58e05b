#include "fakes/fake_dispatcher.h"

namespace zavren::fakes {

namespace {

struct FakeTimer : Timer {
    std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(true);
    void cancel() override { *alive = false; }
    ~FakeTimer() override { cancel(); }
};

}  // namespace

void FakeDispatcher::postAfter(Duration delay, Task task) {
    std::lock_guard lock(mutex_);
    queue_.emplace(std::pair(now_ + delay, seq_++), std::move(task));
}

std::unique_ptr<Timer> FakeDispatcher::repeating(Duration interval, Task task) {
    auto timer = std::make_unique<FakeTimer>();
    tick(timer->alive, interval, std::make_shared<Task>(std::move(task)), now() + interval);
    return timer;
}

// Each firing schedules the next at its own deadline + interval, so ticks never drift.
void FakeDispatcher::tick(Alive alive, Duration interval, std::shared_ptr<Task> task,
                          TimePoint due) {
    std::lock_guard lock(mutex_);
    queue_.emplace(std::pair(due, seq_++), [=, this] {
        if (!*alive) return;
        (*task)();
        if (*alive) tick(alive, interval, task, due + interval);
    });
}

TimePoint FakeDispatcher::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

void FakeDispatcher::advance(Duration d) {
    const TimePoint target = now() + d;
    for (;;) {
        Task task;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty() || queue_.begin()->first.first > target) break;
            now_ = std::max(now_, queue_.begin()->first.first);
            task = std::move(queue_.begin()->second);
            queue_.erase(queue_.begin());
        }
        task();
    }
    std::lock_guard lock(mutex_);
    now_ = target;
}

}  // namespace zavren::fakes
