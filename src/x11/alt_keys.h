#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/hotkey_key.h"
#include "platform/input.h"

namespace zavren {

inline constexpr int RIGHT_ALT_KEYCODE = 108;
inline constexpr int LEFT_ALT_KEYCODE = 64;

// The X key code of a choosable key: the kernel's code plus eight, as every X
// server with the evdev or libinput driver numbers them.
int xKeycode(HotkeyKey key);

// Turns raw presses and releases of the chosen key into the flags events of the
// right Option key, and left Alt, which shares the Option bit with right Alt,
// into those of the left one. Raw events never auto-repeat, but a release can
// arrive twice; a press of a key already down or a release of a key already up
// is dropped, because either would read as a new press to the controller (a
// release while the other Alt is held carries the bit).
class HotkeyTracker {
  public:
    // From any thread: the next key event reads it.
    void choose(HotkeyKey key) { chosen_.store(key, std::memory_order_relaxed); }
    std::optional<FlagsEvent> onKey(int keycode, bool press);

  private:
    std::atomic<HotkeyKey> chosen_{HotkeyKey::rightAlt};
    int held_ = -1;  // the key holding the hotkey down, even if no longer chosen
    bool leftAltDown_ = false;
};

// Key events this process is about to synthesise (modifiers lifted and restored
// around a paste), so the hotkey monitor does not take them for the user's: lifting
// a held right Alt would otherwise end the dictation in progress. Shared by the
// synthesiser and the monitor, which talk to X on separate connections.
class SyntheticKeyLedger {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto EXPIRY = std::chrono::seconds(1);

    void expect(int keycode, bool press, Clock::time_point now);
    // True (and forgotten) when the event is one this process announced.
    bool consume(int keycode, bool press, Clock::time_point now);

  private:
    struct Entry {
        int keycode;
        bool press;
        Clock::time_point at;
    };
    std::mutex mutex_;
    std::deque<Entry> entries_;
};

}  // namespace zavren
