#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/input.h"

namespace zavren {

inline constexpr int RIGHT_ALT_KEYCODE = 108;
inline constexpr int LEFT_ALT_KEYCODE = 64;

// Turns raw Alt key presses and releases into flags events. Raw events never
// auto-repeat, but a release can arrive twice; a press of a key already down or
// a release of a key already up is dropped, because either would read as a new
// press to the controller (a release while the other Alt is held carries the bit).
class AltKeyTracker {
  public:
    std::optional<FlagsEvent> onKey(int keycode, bool press);

  private:
    bool rightDown_ = false;
    bool leftDown_ = false;
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
