#pragma once

#include <atomic>
#include <optional>

#include "platform/hotkey_key.h"
#include "platform/input.h"

namespace zavren {

// Turns raw presses and releases of the choosable keys into the dictation key's
// events. Raw events never auto-repeat, but a release can arrive twice; a press of
// a key already down or a release of a key already up is dropped, because either
// would read as a new press. Left Alt is watched beside right Alt, the two counting
// as one modifier: releasing right Alt while left Alt is still held reads as a press.
class HotkeyTracker {
  public:
    // From any thread: the next key event reads it.
    void choose(HotkeyKey key) { chosen_.store(key, std::memory_order_relaxed); }
    std::optional<HotkeyEvent> onKey(HotkeyKey key, bool press);

  private:
    std::atomic<HotkeyKey> chosen_{HotkeyKey::rightAlt};
    // The key holding the dictation, even if no longer the chosen one.
    std::optional<HotkeyKey> held_;
    bool leftAltDown_ = false;
};

}  // namespace zavren
