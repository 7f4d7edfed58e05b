#include "x11/alt_keys.h"

#include <algorithm>

namespace zavren {

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
