#include "wayland/keyboard_devices.h"

#include <algorithm>
#include <filesystem>

namespace zavren {

namespace {

// A device that floods events must not starve the others.
constexpr int MAX_EVENTS_PER_WAKE = 512;

}  // namespace

KeyboardDevices::KeyboardDevices(DeviceOpener open, std::function<void(HotkeyEvent)> emit)
    : open_(std::move(open)), emit_(std::move(emit)) {}

void KeyboardDevices::scan(const std::string& dir) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        if (entry.path().filename().string().rfind("event", 0) == 0) add(entry.path().string());
    }
}

void KeyboardDevices::add(const std::string& path) {
    for (const auto& [fd, d] : devices_)
        if (d.path == path) return;
    auto input = open_(path);
    if (!input) return;
    const int fd = input->fd();
    devices_[fd] = Device{path, std::move(input), {}};
}

void KeyboardDevices::remove(const std::string& path) {
    auto it = std::find_if(devices_.begin(), devices_.end(),
                           [&](const auto& pair) { return pair.second.path == path; });
    if (it != devices_.end()) drop(it->first);
}

std::vector<int> KeyboardDevices::fds() const {
    std::vector<int> out;
    for (const auto& [fd, d] : devices_) out.push_back(fd);
    return out;
}

void KeyboardDevices::onReadable(int fd) {
    auto it = devices_.find(fd);
    if (it == devices_.end()) return;
    Device& device = it->second;
    input_event ev{};
    for (int i = 0; i < MAX_EVENTS_PER_WAKE; ++i) {
        switch (device.input->next(ev)) {
            case InputDevice::ReadStatus::again:
                return;
            case InputDevice::ReadStatus::gone:
                return drop(fd);
            case InputDevice::ReadStatus::event:
                // Value 2 is auto-repeat: the key was down already.
                if (ev.type == EV_KEY && ev.value != 2) key(device, ev.code, ev.value == 1);
                break;
        }
    }
}

void KeyboardDevices::key(Device& device, unsigned code, bool press) {
    if (code >= KEY_CNT) return;
    device.down.set(code, press);
    const auto chosen = hotkeyForEvdevCode(static_cast<int>(code));
    if (!chosen) return;
    if (auto event = tracker_.onKey(*chosen, press)) emit_(*event);
}

// An unplugged keyboard sends no release: let go of what it held, or the
// dictation would never end.
void KeyboardDevices::drop(int fd) {
    auto node = devices_.extract(fd);
    if (node.empty()) return;
    Device& device = node.mapped();
    for (unsigned code = 0; code < KEY_CNT; ++code)
        if (device.down.test(code)) key(device, code, false);
}

}  // namespace zavren
