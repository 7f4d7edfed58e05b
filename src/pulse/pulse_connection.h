#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace zavren {

// One PulseAudio client connection on its own threaded main loop, kept open so a
// recording starts with a single round trip instead of a fresh connect. Every
// call below except the constructor and destructor needs the loop locked
// (Lock); callbacks run on the loop thread with the lock held.
class PulseConnection {
  public:
    using Clock = std::chrono::steady_clock;

    // server: a PulseAudio server address; empty means the usual one ($PULSE_SERVER,
    // then the user's runtime folder).
    explicit PulseConnection(std::string clientName = "ZAVREN", std::string server = "");
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    class Lock {
      public:
        explicit Lock(PulseConnection& c) : loop_(c.loop_) { pa_threaded_mainloop_lock(loop_); }
        ~Lock() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        pa_threaded_mainloop* loop_;
    };

    // Starts connecting without waiting, so the first request finds the connection up.
    void warmUp();
    // The connected context, reconnecting once if the server went away; null when
    // the server cannot be reached before the deadline.
    pa_context* readyContext(Clock::time_point deadline);
    // Waits (lock held) until done() holds or the deadline passes; returns done().
    bool waitUntil(const std::function<bool()>& done, Clock::time_point deadline);
    // Wakes waitUntil(); for callbacks.
    void signal() { pa_threaded_mainloop_signal(loop_, 0); }
    // Waits for an operation to finish, cancelling it at the deadline.
    bool waitFor(pa_operation* op, Clock::time_point deadline);

    // Runs task soon on the loop thread with the lock held, without taking the
    // lock here (callable from any thread, lock held or not). Tasks still
    // queued when the connection goes away run in its destructor.
    void post(std::function<void()> task);

  private:
    void startConnect();
    void runPosted();

    std::string name_;
    std::string server_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    int wakeFd_ = -1;
    pa_io_event* wakeEvent_ = nullptr;
    std::mutex postedMutex_;
    std::vector<std::function<void()>> posted_;
};

}  // namespace zavren
