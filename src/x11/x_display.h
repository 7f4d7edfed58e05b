#pragma once

#include <X11/Xlib.h>

#include <memory>

namespace zavren {

struct DisplayCloser {
    void operator()(Display* d) const {
        if (d) XCloseDisplay(d);
    }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// Opens $DISPLAY; null when there is none.
DisplayPtr openDisplay();

// Makes X errors raised in its scope non-fatal (a window vanishing while we look
// at it must not end the program, which Xlib's default handler does).
class XErrorTrap {
  public:
    explicit XErrorTrap(Display* d);
    ~XErrorTrap();
    XErrorTrap(const XErrorTrap&) = delete;
    XErrorTrap& operator=(const XErrorTrap&) = delete;
    // True when an error arrived since construction (syncs first).
    bool failed();

  private:
    Display* display_;
    int (*previous_)(Display*, XErrorEvent*);
};

}  // namespace zavren
