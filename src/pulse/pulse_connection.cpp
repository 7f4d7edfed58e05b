#include "pulse/pulse_connection.h"

#include <pulse/timeval.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace zavren {

namespace {

bool settled(pa_context_state_t s) {
    return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
}

}  // namespace

PulseConnection::PulseConnection(std::string clientName, std::string server)
    : name_(std::move(clientName)), server_(std::move(server)) {
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) return;
    // Set up before the loop runs, so no lock is needed yet.
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ >= 0) {
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        wakeEvent_ = api->io_new(
            api, wakeFd_, PA_IO_EVENT_INPUT,
            [](pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* self) {
                std::uint64_t n = 0;
                [[maybe_unused]] auto r = ::read(fd, &n, sizeof n);
                static_cast<PulseConnection*>(self)->runPosted();
            },
            this);
    }
    pa_threaded_mainloop_start(loop_);
}

PulseConnection::~PulseConnection() {
    if (!loop_) return;
    {
        Lock lock(*this);
        runPosted();
        if (wakeEvent_) {
            pa_threaded_mainloop_get_api(loop_)->io_free(wakeEvent_);
            wakeEvent_ = nullptr;
        }
        if (context_) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void PulseConnection::post(std::function<void()> task) {
    if (!loop_) return;
    if (!wakeEvent_) {
        // No wake-up channel: run it here instead, waiting for the lock.
        Lock lock(*this);
        task();
        return;
    }
    {
        std::lock_guard guard(postedMutex_);
        posted_.push_back(std::move(task));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto w = ::write(wakeFd_, &one, sizeof one);
}

void PulseConnection::runPosted() {
    std::vector<std::function<void()>> tasks;
    {
        std::lock_guard guard(postedMutex_);
        tasks.swap(posted_);
    }
    for (auto& task : tasks) task();
}

void PulseConnection::warmUp() {
    if (!loop_) return;
    Lock lock(*this);
    if (!context_) startConnect();
}

void PulseConnection::startConnect() {
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), name_.c_str());
    if (!context_) return;
    pa_context_set_state_callback(
        context_, [](pa_context*, void* self) { static_cast<PulseConnection*>(self)->signal(); },
        this);
    // No autospawn: starting a sound server behind the user's back is not ours to do,
    // and a missing server must read as "no microphone", quickly.
    pa_context_connect(context_, server_.empty() ? nullptr : server_.c_str(),
                       PA_CONTEXT_NOAUTOSPAWN, nullptr);
}

pa_context* PulseConnection::readyContext(Clock::time_point deadline) {
    if (!loop_) return nullptr;
    if (!context_ || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) startConnect();
    if (!context_) return nullptr;
    waitUntil([this] { return settled(pa_context_get_state(context_)); }, deadline);
    return pa_context_get_state(context_) == PA_CONTEXT_READY ? context_ : nullptr;
}

bool PulseConnection::waitUntil(const std::function<bool()>& done, Clock::time_point deadline) {
    if (done()) return true;
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    // A timer on the loop wakes the wait at the deadline; pa_threaded_mainloop_wait has none.
    bool expired = false;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    timeval tv{};
    pa_gettimeofday(&tv);
    pa_timeval_add(&tv, static_cast<pa_usec_t>(left.count()));
    struct Wake {
        PulseConnection* self;
        bool* expired;
    } wake{this, &expired};
    pa_time_event* timer = api->time_new(
        api, &tv,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* ud) {
            auto* w = static_cast<Wake*>(ud);
            *w->expired = true;
            w->self->signal();
        },
        &wake);
    while (!done() && !expired) pa_threaded_mainloop_wait(loop_);
    api->time_free(timer);
    return done();
}

bool PulseConnection::waitFor(pa_operation* op, Clock::time_point deadline) {
    if (!op) return false;
    pa_operation_set_state_callback(
        op, [](pa_operation*, void* self) { static_cast<PulseConnection*>(self)->signal(); }, this);
    bool finished =
        waitUntil([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, deadline);
    if (!finished) pa_operation_cancel(op);
    pa_operation_set_state_callback(op, nullptr, nullptr);
    pa_operation_unref(op);
    return finished;
}

}  // namespace zavren
