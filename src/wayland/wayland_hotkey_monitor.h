#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/dispatch.h"
#include "platform/input.h"
#include "platform/log.h"
#include "wayland/keyboard_devices.h"
#include "wayland/ptt_server.h"

namespace zavren {

// The hotkey on Wayland, where no client sees another's keys: the control
// socket a compositor binding talks to, and the keyboard devices when the user
// may read them. Both are watched on a thread of their own; events reach the
// handler on the main queue.
class WaylandHotkeyMonitor : public HotkeyMonitor {
  public:
    struct Options {
        std::string socketPath;
        std::string inputDir = "/dev/input";
        DeviceOpener openDevice = openEvdevKeyboard;
    };

    WaylandHotkeyMonitor(Dispatcher& dispatcher, SystemLog& log, Options options);
    ~WaylandHotkeyMonitor() override;

    void install(std::function<void(HotkeyEvent)> handler) override;
    void choose(HotkeyKey key) override;
    std::optional<HotkeySources> sources() const override;

  private:
    void run();
    void onInotify();
    void deliver(HotkeyEvent event);
    void devicesChanged();

    Dispatcher& dispatcher_;
    SystemLog& log_;
    Options options_;
    std::function<void(HotkeyEvent)> handler_;
    PttKey key_;
    std::unique_ptr<PttServer> server_;
    std::unique_ptr<KeyboardDevices> devices_;
    HotkeyKey chosen_ = HotkeyKey::rightAlt;
    // Written on the watcher thread, read on the main one.
    std::atomic<bool> devicesReadable_{false};
    std::atomic<bool> bindingUsed_{false};
    int inotifyFd_ = -1;
    int wakeFd_ = -1;
    std::thread thread_;
};

}  // namespace zavren
