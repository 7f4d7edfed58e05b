#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace zavren {

// The keys the user may hold to dictate. Stored by name; the tables indexed by it
// follow this order.
enum class HotkeyKey { rightAlt, leftAlt, rightCtrl, rightSuper, f13, f14, f15, f16 };

inline constexpr std::array<HotkeyKey, 8> HOTKEY_KEYS = {
    HotkeyKey::rightAlt, HotkeyKey::leftAlt, HotkeyKey::rightCtrl, HotkeyKey::rightSuper,
    HotkeyKey::f13,      HotkeyKey::f14,     HotkeyKey::f15,       HotkeyKey::f16};

// A string in the user defaults; absent or unknown means right Alt.
inline const std::string HOTKEY_SETTING_KEY = "zavren.hotkey";

std::string_view storedName(HotkeyKey key);

// The Linux input code of a key (X numbers keys the same, plus eight), and back;
// absent for a key that cannot be chosen.
int evdevCode(HotkeyKey key);
std::optional<HotkeyKey> hotkeyForEvdevCode(int code);
HotkeyKey hotkeyFromStored(const std::optional<std::string>& stored);

// Where a monitor that cannot see every key gets them from (a Wayland session):
// keyboard devices it may read, and commands sent by a compositor key binding.
struct HotkeySources {
    bool devicesReadable = false;
    bool bindingUsed = false;
    bool portalShortcut = false;  // the desktop's global shortcut "按住说话" is bound
};

// Where the key is heard from, in order of preference on Wayland; a monitor that
// sees every key (X11) needs no word about it.
enum class HotkeyVia { keyMonitor, portalShortcut, keyboardDevices, binding, none };

// The hotkey as the texts that name it need it.
struct HotkeyStatus {
    HotkeyKey key = HotkeyKey::rightAlt;
    bool needsSetup = false;
    HotkeyVia via = HotkeyVia::keyMonitor;
    bool operator==(const HotkeyStatus&) const = default;
};

class Defaults;
class HotkeyMonitor;
// The stored choice and whether the monitor can hear it yet.
HotkeyStatus readHotkeyStatus(Defaults& defaults, const HotkeyMonitor& monitor);

HotkeyVia hotkeyVia(const std::optional<HotkeySources>& sources);

// Until one of the two works the key does nothing, and the user must be told how
// to set one up. A monitor that sees every key reports no sources.
inline bool hotkeyNeedsSetup(const std::optional<HotkeySources>& sources) {
    return sources && !sources->devicesReadable && !sources->bindingUsed &&
           !sources->portalShortcut;
}

}  // namespace zavren
