#include "platform/hotkey_key.h"

#include "platform/defaults.h"
#include "platform/input.h"

namespace zavren {

namespace {

constexpr std::array<std::string_view, HOTKEY_KEYS.size()> STORED = {
    "rightAlt", "leftAlt", "rightCtrl", "rightSuper", "f13", "f14", "f15", "f16"};

// KEY_RIGHTALT, KEY_LEFTALT, KEY_RIGHTCTRL, KEY_RIGHTMETA, KEY_F13 … KEY_F16.
constexpr std::array<int, HOTKEY_KEYS.size()> EVDEV_CODES = {100, 56, 97, 126, 183, 184, 185, 186};

}  // namespace

std::string_view storedName(HotkeyKey key) {
    return STORED.at(static_cast<std::size_t>(key));
}

int evdevCode(HotkeyKey key) {
    return EVDEV_CODES.at(static_cast<std::size_t>(key));
}

std::optional<HotkeyKey> hotkeyForEvdevCode(int code) {
    for (HotkeyKey key : HOTKEY_KEYS)
        if (evdevCode(key) == code) return key;
    return std::nullopt;
}

HotkeyKey hotkeyFromStored(const std::optional<std::string>& stored) {
    if (!stored) return HotkeyKey::rightAlt;
    for (HotkeyKey key : HOTKEY_KEYS)
        if (storedName(key) == *stored) return key;
    return HotkeyKey::rightAlt;
}

HotkeyVia hotkeyVia(const std::optional<HotkeySources>& sources) {
    if (!sources) return HotkeyVia::keyMonitor;
    if (sources->portalShortcut) return HotkeyVia::portalShortcut;
    if (sources->devicesReadable) return HotkeyVia::keyboardDevices;
    return sources->bindingUsed ? HotkeyVia::binding : HotkeyVia::none;
}

HotkeyStatus readHotkeyStatus(Defaults& defaults, const HotkeyMonitor& monitor) {
    const auto sources = monitor.sources();
    return {hotkeyFromStored(defaults.stringValue(HOTKEY_SETTING_KEY)), hotkeyNeedsSetup(sources),
            hotkeyVia(sources)};
}

}  // namespace zavren
