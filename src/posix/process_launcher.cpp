#include "posix/process_launcher.h"

#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "posix/process_spawn.h"
#include "shared/paths.h"

namespace zavren {

namespace {

// Shared by the handle and the reaper. `reaped` flips under the mutex before the
// zombie is collected, so a signal sent under the same mutex can only reach our
// own child (alive or zombie), never a recycled pid.
struct ChildState {
    pid_t pid = -1;
    std::mutex mutex;
    bool reaped = false;
    // Cleared only after the exit callback has returned, so a caller that waits
    // for !isRunning() may tear down what that callback uses.
    std::atomic<bool> running{true};
};

class PosixChild : public ChildProcess {
  public:
    explicit PosixChild(std::shared_ptr<ChildState> s) : state_(std::move(s)) {}
    int pid() const override { return state_->pid; }
    bool isRunning() const override { return state_->running.load(); }
    void terminate() override { signal(SIGTERM); }
    void kill() override { signal(SIGKILL); }
    bool waitForExit(Duration limit) override {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (state_->running.load()) {
            if (std::chrono::steady_clock::now() >= end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

  private:
    void signal(int sig) {
        std::lock_guard lock(state_->mutex);
        if (!state_->reaped) ::kill(state_->pid, sig);
    }
    std::shared_ptr<ChildState> state_;
};

void reap(const std::shared_ptr<ChildState>& state, const std::function<void(int)>& onExit) {
    // Wait without collecting: the zombie keeps the pid reserved until we hold the lock.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(state->pid), &info, WEXITED | WNOWAIT) != 0 &&
           errno == EINTR) {
    }
    int waitStatus = 0;
    {
        std::lock_guard lock(state->mutex);
        state->reaped = true;
        while (::waitpid(state->pid, &waitStatus, 0) < 0 && errno == EINTR) {
        }
    }
    if (onExit) onExit(process_detail::statusFromWait(waitStatus));
    state->running = false;
}

// The kernel sends a child's death signal when the *thread* that forked it ends,
// not the process. Long-lived children are therefore forked from this one thread,
// which is never stopped: it ends only with the program.
class Spawner {
  public:
    static Spawner& instance() {
        static auto* spawner = new Spawner;  // never destroyed, see above
        return *spawner;
    }

    pid_t spawn(const ProcessSpec& spec, std::string& error) {
        std::packaged_task<pid_t()> job([&] {
            return process_detail::spawn(spec, {-1, spec.outputFd, spec.outputFd}, error);
        });
        auto result = job.get_future();
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_one();
        return result.get();
    }

  private:
    Spawner() {
        std::thread([this] {
            for (;;) {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return !jobs_.empty(); });
                auto job = std::move(jobs_.front());
                jobs_.pop_front();
                lock.unlock();
                job();
            }
        }).detach();
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::packaged_task<pid_t()>> jobs_;
};

}  // namespace

LaunchResult PosixProcessLauncher::launch(const ProcessSpec& spec,
                                          std::function<void(int status)> onExit) {
    std::string error;
    pid_t pid = Spawner::instance().spawn(spec, error);
    if (pid < 0) return {nullptr, error};
    auto state = std::make_shared<ChildState>();
    state->pid = pid;
    std::thread([state, onExit = std::move(onExit)] { reap(state, onExit); }).detach();
    return {std::make_shared<PosixChild>(state), {}};
}

std::map<std::string, std::string> PosixProcessLauncher::environment() const {
    return currentEnvironment();
}

}  // namespace zavren
