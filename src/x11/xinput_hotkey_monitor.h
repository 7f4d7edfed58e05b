#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "dictation/hotkey.h"
#include "platform/dispatch.h"
#include "platform/input.h"
#include "x11/alt_keys.h"
#include "x11/x_display.h"

namespace zavren {

// The global hotkey monitor: XInput2 raw key events on the root window (no grab, so
// every application still gets its keys), on a connection of its own.
//
// It does not own an event loop. Either the caller watches fd() and calls drain()
// on the main thread whenever it is readable (a QSocketNotifier does), or
// runOn(dispatcher) starts a watcher thread that posts the events to the
// dispatcher's main queue.
class XInputHotkeyMonitor : public HotkeyMonitor {
  public:
    explicit XInputHotkeyMonitor(std::shared_ptr<SyntheticKeyLedger> ledger);
    ~XInputHotkeyMonitor() override;
    XInputHotkeyMonitor(const XInputHotkeyMonitor&) = delete;
    XInputHotkeyMonitor& operator=(const XInputHotkeyMonitor&) = delete;

    // False without a display or without XInput 2.2; then no event ever arrives.
    bool valid() const { return xiOpcode_ >= 0; }

    void install(std::function<void(HotkeyEvent)> handler) override;
    void choose(HotkeyKey key) override { tracker_.choose(key); }

    // The X connection's socket, -1 when not valid.
    int fd() const;
    // Reads every queued event and calls the handler for each key event. Call it
    // once after install too: events may already sit in Xlib's queue, where the
    // socket never signals them.
    void drain();

    // Self-contained mode: a thread waits on the connection and posts each event
    // to dispatcher (which must outlive this monitor). Do not call drain() then.
    void runOn(Dispatcher& dispatcher);

  private:
    std::vector<HotkeyEvent> readPending();
    void watch(Dispatcher* dispatcher);

    std::shared_ptr<SyntheticKeyLedger> ledger_;
    DisplayPtr display_;
    int xiOpcode_ = -1;
    int xtestKeyboard_ = -1;  // the slave device XTest input comes from
    HotkeyTracker tracker_;
    std::function<void(HotkeyEvent)> handler_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::thread watcher_;
    int wakeFd_ = -1;
};

}  // namespace zavren
