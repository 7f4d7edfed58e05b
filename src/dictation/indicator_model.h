#pragma once

#include <array>
#include <string>

#include "shared/app_state.h"

namespace zavren {

inline const std::string LISTENING_TEXT = "正在听";
inline const std::string TRANSCRIBING_TEXT = "转写中";

// What the floating capsule shows for a given state; the panel only draws it.
struct IndicatorModel {
    enum class Row { hint, transcribing, bars };

    static constexpr double BAR_ROW_HEIGHT = 24.0;
    static constexpr double MIN_BAR_HEIGHT = 4.0;

    Row row = Row::bars;
    std::string text;  // the hint, "转写中" or "正在听"
    bool showPreview = false;
    std::string preview;
    // One bar per level, oldest first, in points.
    std::array<double, AppState::Levels{}.size()> barHeights{};

    bool operator==(const IndicatorModel&) const = default;
};

IndicatorModel indicatorModel(const AppState& st);

}  // namespace zavren
