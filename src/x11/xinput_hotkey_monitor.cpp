#include "x11/xinput_hotkey_monitor.h"

#include <X11/extensions/XInput2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "shared/trace.h"

namespace zavren {

XInputHotkeyMonitor::XInputHotkeyMonitor(std::shared_ptr<SyntheticKeyLedger> ledger)
    : ledger_(std::move(ledger)), display_(openDisplay()) {
    if (!display_) return;
    Display* d = display_.get();
    int event = 0, error = 0, opcode = 0;
    if (!XQueryExtension(d, "XInputExtension", &opcode, &event, &error)) return;
    // Raw events reach a client that does not grab only from XInput 2.1 on.
    int major = 2, minor = 2;
    if (XIQueryVersion(d, &major, &minor) != Success || (major == 2 && minor < 1)) return;

    int count = 0;
    if (XIDeviceInfo* devices = XIQueryDevice(d, XIAllDevices, &count)) {
        for (int i = 0; i < count; ++i) {
            if (devices[i].use == XISlaveKeyboard && std::strstr(devices[i].name, "XTEST"))
                xtestKeyboard_ = devices[i].deviceid;
        }
        XIFreeDeviceInfo(devices);
    }

    unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(mask, XI_RawKeyPress);
    XISetMask(mask, XI_RawKeyRelease);
    // All master devices: selecting all devices would deliver each key twice.
    XIEventMask em{XIAllMasterDevices, static_cast<int>(sizeof(mask)), mask};
    XISelectEvents(d, DefaultRootWindow(d), &em, 1);
    XFlush(d);
    xiOpcode_ = opcode;
}

XInputHotkeyMonitor::~XInputHotkeyMonitor() {
    if (watcher_.joinable()) {
        std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof(one));
        watcher_.join();
    }
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void XInputHotkeyMonitor::install(std::function<void(HotkeyEvent)> handler) {
    handler_ = std::move(handler);
}

int XInputHotkeyMonitor::fd() const {
    return display_ ? ConnectionNumber(display_.get()) : -1;
}

std::vector<HotkeyEvent> XInputHotkeyMonitor::readPending() {
    std::vector<HotkeyEvent> out;
    if (!valid()) return out;
    Display* d = display_.get();
    // Loop until Xlib's queue is empty: a release already read into the queue
    // never wakes the socket again.
    while (XPending(d) > 0) {
        XEvent ev;
        XNextEvent(d, &ev);
        XGenericEventCookie* cookie = &ev.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != xiOpcode_ ||
            !XGetEventData(d, cookie))
            continue;
        if (cookie->evtype == XI_RawKeyPress || cookie->evtype == XI_RawKeyRelease) {
            auto* raw = static_cast<XIRawEvent*>(cookie->data);
            const bool press = cookie->evtype == XI_RawKeyPress;
            const bool ours =
                (xtestKeyboard_ < 0 || raw->sourceid == xtestKeyboard_) &&
                ledger_->consume(raw->detail, press, SyntheticKeyLedger::Clock::now());
            const auto key = hotkeyForEvdevCode(raw->detail - X_KEYCODE_OFFSET);
            if (!ours && key) {
                if (auto event = tracker_.onKey(*key, press)) {
                    trace::mark(press ? "hotkey-press" : "hotkey-release", raw->detail);
                    out.push_back(*event);
                }
            }
        }
        XFreeEventData(d, cookie);
    }
    return out;
}

void XInputHotkeyMonitor::drain() {
    for (const auto& ev : readPending()) {
        if (handler_) handler_(ev);
    }
}

void XInputHotkeyMonitor::runOn(Dispatcher& dispatcher) {
    if (!valid() || watcher_.joinable()) return;
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (wakeFd_ < 0) return;
    watcher_ = std::thread([this, &dispatcher] { watch(&dispatcher); });
}

void XInputHotkeyMonitor::watch(Dispatcher* dispatcher) {
    std::weak_ptr<bool> alive = alive_;
    for (;;) {
        for (const auto& ev : readPending()) {
            dispatcher->post([this, alive, ev] {
                if (alive.lock() && handler_) handler_(ev);
            });
        }
        pollfd fds[2] = {{fd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        if (fds[0].revents & (POLLHUP | POLLERR)) return;
    }
}

}  // namespace zavren
