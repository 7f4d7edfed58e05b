#pragma once

#include <functional>
#include <vector>

namespace zavren {

// The per-user single-instance rule.
class InstanceLock {
  public:
    virtual ~InstanceLock() = default;
    struct Result {
        bool acquired = false;
        std::vector<int> others;  // process ids of the instances holding it
    };
    // Takes the lock for this process, which keeps it until it ends.
    virtual Result acquire() = 0;
};

// The application object around the event loop.
class Application {
  public:
    virtual ~Application() = default;
    // Ends the event loop; the program then runs its termination steps.
    virtual void terminate() = 0;
    // SIGTERM no longer ends the process by itself; the handler runs on the main thread.
    virtual void onSigterm(std::function<void()> handler) = 0;
    // Ends the process at once, skipping the termination steps.
    virtual void exitNow(int status) = 0;
};

}  // namespace zavren
