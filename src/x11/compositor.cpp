#include "x11/compositor.h"

#include <X11/Xlib.h>

#include <string>

namespace zavren {

bool compositorRunning(Display* display) {
    if (!display) return false;
    const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
    Atom atom = XInternAtom(display, name.c_str(), False);
    return XGetSelectionOwner(display, atom) != None;
}

}  // namespace zavren
