#pragma once

#include <chrono>
#include <deque>
#include <mutex>

namespace zavren {

inline constexpr int RIGHT_ALT_KEYCODE = 108;
inline constexpr int LEFT_ALT_KEYCODE = 64;

// X numbers keys as the kernel does, plus eight.
inline constexpr int X_KEYCODE_OFFSET = 8;

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
