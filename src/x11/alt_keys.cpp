#include "x11/alt_keys.h"

#include <algorithm>
#include <array>

#include "shared/constants.h"

namespace zavren {

namespace {

constexpr std::array<int, HOTKEY_KEYS.size()> X_KEYCODES = {
    RIGHT_ALT_KEYCODE, LEFT_ALT_KEYCODE, 105, 134, 191, 192, 193, 194};

}  // namespace

int xKeycode(HotkeyKey key) {
    return X_KEYCODES.at(static_cast<std::size_t>(key));
}

std::optional<FlagsEvent> HotkeyTracker::onKey(int keycode, bool press) {
    const HotkeyKey chosen = chosen_.load(std::memory_order_relaxed);
    if (press && held_ < 0 && keycode == xKeycode(chosen)) {
        held_ = keycode;
        return FlagsEvent{HOTKEY_CODE, OPTION_FLAG};
    }
    if (!press && keycode == held_) {
        held_ = -1;
        return FlagsEvent{HOTKEY_CODE, leftAltDown_ ? OPTION_FLAG : 0};
    }
    // Left Alt is the right one's companion only while right Alt is the hotkey;
    // a release still counts after a change, or the bit would stay set.
    const bool companion = chosen == HotkeyKey::rightAlt || (leftAltDown_ && !press);
    if (keycode != LEFT_ALT_KEYCODE || !companion || leftAltDown_ == press) return std::nullopt;
    leftAltDown_ = press;
    return FlagsEvent{LEFT_OPTION_CODE, held_ >= 0 || press ? OPTION_FLAG : 0};
}

void SyntheticKeyLedger::expect(int keycode, bool press, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    entries_.push_back({keycode, press, now});
}

bool SyntheticKeyLedger::consume(int keycode, bool press, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    // An announced event that never arrived must not swallow a real one later.
    while (!entries_.empty() && now - entries_.front().at > EXPIRY) entries_.pop_front();
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) {
        return e.keycode == keycode && e.press == press;
    });
    if (it == entries_.end()) return false;
    entries_.erase(it);
    return true;
}

}  // namespace zavren
