#include "qt/qt_hotkey_monitor.h"

#include "shared/trace.h"

namespace zavren {

void QtHotkeyMonitor::install(std::function<void(HotkeyEvent)> handler) {
    if (!monitor_) monitor_ = std::make_unique<XInputHotkeyMonitor>(ledger_);
    monitor_->choose(chosen_);
    monitor_->install(std::move(handler));
    if (!monitor_->valid() || monitor_->fd() < 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(monitor_->fd(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
        trace::mark("hotkey-wake");
        monitor_->drain();
    });
    monitor_->drain();
}

void QtHotkeyMonitor::choose(HotkeyKey key) {
    chosen_ = key;
    if (monitor_) monitor_->choose(key);
}

}  // namespace zavren
