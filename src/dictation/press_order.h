#pragma once

#include <optional>

#include "platform/dispatch.h"

namespace zavren {

// A press and a release sent by processes of their own (a compositor binding runs
// one per key event) can arrive in either order. A press whose sender started
// before the sender of the last release we handled was overtaken by that release:
// acting on it would start a recording that nothing ever stops. Times are the
// senders' start on the monotonic clock; a message without one counts as sent when
// it was handled.
class PressOrder {
  public:
    // A stamp from the future is taken as now: it must not hold later presses back.
    void released(std::optional<TimePoint> startedAt, TimePoint handledAt);
    bool accepts(std::optional<TimePoint> pressStartedAt) const;

  private:
    std::optional<TimePoint> lastRelease_;
};

}  // namespace zavren
