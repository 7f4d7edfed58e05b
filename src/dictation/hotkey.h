#pragma once

#include "platform/input.h"
#include "shared/constants.h"

namespace zavren {

enum class HotkeyAction { ignore, press, release };

// Only the right Option key counts. With the left one still held, releasing the
// right one keeps the Option bit set and so reads as a press.
inline HotkeyAction classifyFlags(const FlagsEvent& event) {
    if (event.keyCode != HOTKEY_CODE) return HotkeyAction::ignore;
    return (event.flags & OPTION_FLAG) != 0 ? HotkeyAction::press : HotkeyAction::release;
}

}  // namespace zavren
