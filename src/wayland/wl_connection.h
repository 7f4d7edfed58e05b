#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch.h"
#include "platform/log.h"
#include "wayland/bounded_io.h"

struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwp_virtual_keyboard_manager_v1;
struct zwlr_data_control_manager_v1;

namespace zavren {

// Our own connection to the compositor, apart from Qt's, for the globals Qt
// does not speak: the virtual keyboard and the clipboard manager protocol. It
// lives on a thread of its own, so a clipboard owner's answer can be read on the
// main thread while this one serves our own offers, and a stuck compositor never
// stalls the program. Every Wayland object is touched on that thread only.
class WaylandConnection {
  public:
    struct Globals {
        wl_seat* seat = nullptr;
        zwp_virtual_keyboard_manager_v1* keyboards = nullptr;
        zwlr_data_control_manager_v1* clipboards = nullptr;
    };
    // The parts that speak one protocol each, called on the connection's thread.
    class Client {
      public:
        virtual ~Client() = default;
        virtual void bound(WaylandConnection& connection, const Globals& globals) = 0;
        // Before the connection closes: destroy what was made in bound().
        virtual void closing() = 0;
    };

    // Connects to display (nullptr: $WAYLAND_DISPLAY) and starts the thread.
    WaylandConnection(Dispatcher& dispatcher, SystemLog& log, std::vector<Client*> clients,
                      const char* display = nullptr);
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    // Waits (a moment at most, and only before the compositor's first answer)
    // until the globals are bound. False when the connection failed or broke.
    bool ready();
    bool alive();
    // Runs task on the connection's thread and flushes what it sent.
    void run(std::function<void()> task);

    // Connection thread only.
    // Serves bytes to a reader's pipe without waiting on it; takes the fd.
    void write(int fd, std::shared_ptr<const std::string> bytes);
    Dispatcher& dispatcher() { return dispatcher_; }
    // Sends what was asked so far now, rather than when the task returns.
    void flush();
    // Calls done once the compositor has handled everything sent before.
    void afterRoundTrip(std::function<void()> done);

  private:
    void loop();
    bool start();
    void fail(const std::string& why);
    void setReady();

    Dispatcher& dispatcher_;
    SystemLog& log_;
    std::vector<Client*> clients_;
    std::string displayName_;
    bool useEnvironment_;

    std::mutex lock_;
    std::condition_variable changed_;
    bool settled_ = false;  // the first answer came, or the connection failed
    bool waited_ = false;
    bool alive_ = true;
    bool stopping_ = false;
    std::vector<std::function<void()>> tasks_;

    // Connection thread only.
    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    Globals globals_;
    std::list<PendingWrite> writes_;
    bool boundYet_ = false;

    int wakeFd_ = -1;
    std::thread thread_;

    friend struct WaylandConnectionListeners;
};

}  // namespace zavren
