#pragma once

#include <QSocketNotifier>
#include <memory>

#include "platform/input.h"
#include "x11/xinput_hotkey_monitor.h"

namespace zavren {

// The XInput2 monitor driven by the Qt event loop: its X connection's socket
// wakes the main thread, which drains the queued events. The connection opens at
// install(), so an instance that never installs it never talks to the X server.
class QtHotkeyMonitor : public HotkeyMonitor {
  public:
    explicit QtHotkeyMonitor(std::shared_ptr<SyntheticKeyLedger> ledger)
        : ledger_(std::move(ledger)) {}
    void install(std::function<void(HotkeyEvent)> handler) override;
    void choose(HotkeyKey key) override;
    bool valid() const { return monitor_ && monitor_->valid(); }

  private:
    std::shared_ptr<SyntheticKeyLedger> ledger_;
    std::unique_ptr<XInputHotkeyMonitor> monitor_;
    std::unique_ptr<QSocketNotifier> notifier_;
    HotkeyKey chosen_ = HotkeyKey::rightAlt;
};

}  // namespace zavren
