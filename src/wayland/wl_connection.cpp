#include "wayland/wl_connection.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "shared/constants.h"
#include "wayland/virtual-keyboard-unstable-v1.h"
#include "wayland/wlr-data-control-unstable-v1.h"

namespace zavren {

namespace {

// The compositor answers its first round trip in well under a millisecond;
// this only bounds the wait when it does not.
constexpr std::chrono::milliseconds FIRST_ANSWER{1000};
// A reader that takes longer than this to drain one format is given up.
constexpr std::chrono::seconds WRITE_DEADLINE{5};
// Readers we serve at once; more are refused rather than queued without end.
constexpr std::size_t MAX_WRITES = 64;

}  // namespace

struct WaylandConnectionListeners {
    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version) {
        auto& g = static_cast<WaylandConnection*>(data)->globals_;
        if (!g.seat && std::strcmp(interface, wl_seat_interface.name) == 0) {
            g.seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        } else if (!g.keyboards &&
                   std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
            g.keyboards = static_cast<zwp_virtual_keyboard_manager_v1*>(
                wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
        } else if (!g.clipboards &&
                   std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0) {
            // Version 1: the primary selection is not ours to keep.
            g.clipboards = static_cast<zwlr_data_control_manager_v1*>(
                wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
        }
        (void)version;
    }
    static void globalRemove(void*, wl_registry*, std::uint32_t) {}

    // The first round trip lists the globals; the second brings what binding them sent.
    static void synced(void* data, wl_callback* callback, std::uint32_t) {
        auto* self = static_cast<WaylandConnection*>(data);
        wl_callback_destroy(callback);
        if (self->boundYet_) {
            self->setReady();
            return;
        }
        self->boundYet_ = true;
        for (auto* client : self->clients_) client->bound(*self, self->globals_);
        wl_callback_add_listener(wl_display_sync(self->display_), &callbackListener, self);
    }

    static void roundTripped(void* data, wl_callback* callback, std::uint32_t) {
        std::unique_ptr<std::function<void()>> done(static_cast<std::function<void()>*>(data));
        wl_callback_destroy(callback);
        (*done)();
    }

    static constexpr wl_registry_listener registryListener{global, globalRemove};
    static constexpr wl_callback_listener callbackListener{synced};
    static constexpr wl_callback_listener roundTripListener{roundTripped};
};

WaylandConnection::WaylandConnection(Dispatcher& dispatcher, SystemLog& log,
                                     std::vector<Client*> clients, const char* display)
    : dispatcher_(dispatcher),
      log_(log),
      clients_(std::move(clients)),
      displayName_(display ? display : ""),
      useEnvironment_(display == nullptr) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        fail("无法启动 Wayland 连接线程");
        return;
    }
    thread_ = std::thread([this] { loop(); });
}

WaylandConnection::~WaylandConnection() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        (void)!::write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool WaylandConnection::ready() {
    std::unique_lock<std::mutex> hold(lock_);
    if (!waited_) {
        waited_ = true;
        changed_.wait_for(hold, FIRST_ANSWER, [this] { return settled_; });
    }
    return settled_ && alive_;
}

bool WaylandConnection::alive() {
    std::lock_guard<std::mutex> hold(lock_);
    return alive_;
}

void WaylandConnection::run(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!alive_ || stopping_) return;  // the task, and what it holds, goes now
        tasks_.push_back(std::move(task));
    }
    const std::uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
}

void WaylandConnection::write(int fd, std::shared_ptr<const std::string> bytes) {
    if (writes_.size() >= MAX_WRITES) {
        ::close(fd);
        return;
    }
    const auto now = PendingWrite::Clock::now();
    writes_.emplace_back(fd, std::move(bytes), now + WRITE_DEADLINE);
    if (writes_.back().pump(now)) writes_.pop_back();
}

void WaylandConnection::flush() {
    if (display_) wl_display_flush(display_);
}

void WaylandConnection::afterRoundTrip(std::function<void()> done) {
    wl_callback_add_listener(wl_display_sync(display_),
                             &WaylandConnectionListeners::roundTripListener,
                             new std::function<void()>(std::move(done)));
}

void WaylandConnection::setReady() {
    std::lock_guard<std::mutex> hold(lock_);
    settled_ = true;
    changed_.notify_all();
}

void WaylandConnection::fail(const std::string& why) {
    std::vector<std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!alive_) return;
        alive_ = false;
        settled_ = true;
        dropped.swap(tasks_);
        changed_.notify_all();
    }
    // The log is the main thread's; this is said once, whatever broke.
    dispatcher_.post([&log = log_, why] { log.line(LOG_PREFIX + why); });
}

bool WaylandConnection::start() {
    display_ = wl_display_connect(useEnvironment_ ? nullptr : displayName_.c_str());
    if (!display_) {
        fail("无法连接 Wayland 合成器,粘贴与剪贴板改用外部工具");
        return false;
    }
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &WaylandConnectionListeners::registryListener, this);
    wl_callback_add_listener(wl_display_sync(display_),
                             &WaylandConnectionListeners::callbackListener, this);
    return true;
}

void WaylandConnection::loop() {
    blockBrokenPipeSignal();
    if (!start()) return;
    for (;;) {
        std::vector<std::function<void()>> tasks;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (stopping_) break;
            tasks.swap(tasks_);
        }
        for (auto& task : tasks) task();
        tasks.clear();

        bool broken = false;
        while (wl_display_prepare_read(display_) != 0) {
            if (wl_display_dispatch_pending(display_) < 0) {
                broken = true;
                break;
            }
        }
        if (broken) break;
        const int flushed = wl_display_flush(display_);
        if (flushed < 0 && errno != EAGAIN) {
            wl_display_cancel_read(display_);
            break;
        }
        std::vector<pollfd> fds{{wl_display_get_fd(display_),
                                 static_cast<short>(POLLIN | (flushed < 0 ? POLLOUT : 0)), 0},
                                {wakeFd_, POLLIN, 0}};
        // Wake for the first reader that runs out of time.
        int timeout = -1;
        const auto now = PendingWrite::Clock::now();
        for (const auto& w : writes_) {
            fds.push_back({w.fd(), POLLOUT, 0});
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(w.deadline() - now);
            const int ms = static_cast<int>(std::max<long long>(left.count(), 0));
            timeout = timeout < 0 ? ms : std::min(timeout, ms);
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            wl_display_cancel_read(display_);
            break;
        }
        if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
            if (wl_display_read_events(display_) < 0) break;
        } else {
            wl_display_cancel_read(display_);
        }
        if (wl_display_dispatch_pending(display_) < 0) break;
        if (fds[1].revents) {
            std::uint64_t n;
            (void)!::read(wakeFd_, &n, sizeof n);
        }
        const auto later = PendingWrite::Clock::now();
        std::size_t i = 2;
        for (auto it = writes_.begin(); it != writes_.end(); ++i) {
            const bool due = i < fds.size() && fds[i].revents;
            if ((due || later >= it->deadline()) && it->pump(later))
                it = writes_.erase(it);
            else
                ++it;
        }
    }
    bool stopping;
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping = stopping_;
    }
    if (!stopping) {
        const int error = wl_display_get_error(display_);
        fail(error == EPROTO ? "Wayland 合成器报告协议错误,粘贴与剪贴板改用外部工具"
                             : "与 Wayland 合成器的连接已断开");
    }
    writes_.clear();
    for (auto* client : clients_) client->closing();
    if (globals_.seat) wl_seat_destroy(globals_.seat);
    if (globals_.keyboards) zwp_virtual_keyboard_manager_v1_destroy(globals_.keyboards);
    if (globals_.clipboards) zwlr_data_control_manager_v1_destroy(globals_.clipboards);
    wl_registry_destroy(registry_);
    wl_display_disconnect(display_);
    display_ = nullptr;
}

}  // namespace zavren
