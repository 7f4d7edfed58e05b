#include "platform/hotkey_key.h"

#include "platform/defaults.h"
#include "platform/input.h"

namespace zavren {

namespace {

constexpr std::array<std::string_view, HOTKEY_KEYS.size()> STORED = {
    "rightAlt", "leftAlt", "rightCtrl", "rightSuper", "f13", "f14", "f15", "f16"};

}  // namespace

std::string_view storedName(HotkeyKey key) {
    return STORED.at(static_cast<std::size_t>(key));
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
