#include "dictation/press_order.h"

#include <algorithm>

namespace zavren {

void PressOrder::released(std::optional<TimePoint> startedAt, TimePoint handledAt) {
    lastRelease_ = std::min(startedAt.value_or(handledAt), handledAt);
}

bool PressOrder::accepts(std::optional<TimePoint> pressStartedAt) const {
    return !pressStartedAt || !lastRelease_ || *pressStartedAt >= *lastRelease_;
}

}  // namespace zavren
