#pragma once

#include "platform/ui.h"
#include "shared/types.h"

namespace zavren {

// Red while recording, orange when the engine failed, otherwise black; only the
// black icon follows the panel's theme.
StatusIcon makeStatusIcon(EngineState engine, bool recording);

}  // namespace zavren
