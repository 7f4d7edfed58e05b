#include "app/status_icon.h"

namespace zavren {

StatusIcon makeStatusIcon(EngineState engine, bool recording) {
    StatusIcon icon;
    if (recording) {
        icon.tint = StatusIcon::Tint::red;
    } else if (engine == EngineState::failed) {
        icon.tint = StatusIcon::Tint::orange;
    } else {
        icon.tint = StatusIcon::Tint::black;
    }
    icon.isTemplate = icon.tint == StatusIcon::Tint::black;
    return icon;
}

}  // namespace zavren
