#include "dictation/hotkey.h"

namespace zavren {

std::optional<HotkeyEvent> HotkeyTracker::onKey(HotkeyKey key, bool press) {
    const HotkeyKey chosen = chosen_.load(std::memory_order_relaxed);
    if (press && !held_ && key == chosen) {
        held_ = key;
        return HotkeyEvent::press;
    }
    if (!press && key == held_) {
        held_.reset();
        return leftAltDown_ ? HotkeyEvent::press : HotkeyEvent::release;
    }
    // Left Alt is the right one's companion only while right Alt is the hotkey;
    // a release still counts after a change, or it would stay down for good.
    const bool companion = chosen == HotkeyKey::rightAlt || (leftAltDown_ && !press);
    if (key == HotkeyKey::leftAlt && companion) leftAltDown_ = press;
    return std::nullopt;
}

}  // namespace zavren
