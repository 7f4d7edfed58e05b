#pragma once

struct _XDisplay;

namespace zavren {

// Whether a compositing manager owns this screen's _NET_WM_CM_Sn selection;
// without one, translucent windows show black where they should be clear.
bool compositorRunning(_XDisplay* display);

}  // namespace zavren
