#pragma once

#include <string>

namespace zavren {

// How a piece of window text looks. Sizes are in points of a 1x screen, which the
// renderer takes as pixels so the layout keeps its proportions to the fixed widths.
enum class Weight { regular, medium, semibold, bold, heavy };
enum class Tone { primary, secondary, orange, accent, link };

struct Styled {
    std::string text;
    int size = 13;
    Weight weight = Weight::regular;
    Tone tone = Tone::primary;
    bool wraps = false;  // wraps onto as many lines as it needs, never truncated

    bool operator==(const Styled&) const = default;
};

// Every window ends with this line; the onboarding footer adds " · " and the contact.
inline const std::string COPYRIGHT = "© 2026 ZAVREN.AI";

}  // namespace zavren
