#include "x11/x_display.h"

#include <atomic>

namespace zavren {

namespace {

std::atomic<int> trappedErrors{0};

int countError(Display*, XErrorEvent*) {
    trappedErrors.fetch_add(1);
    return 0;
}

}  // namespace

DisplayPtr openDisplay() {
    return DisplayPtr(XOpenDisplay(nullptr));
}

XErrorTrap::XErrorTrap(Display* d) : display_(d) {
    XSync(display_, False);
    trappedErrors = 0;
    previous_ = XSetErrorHandler(countError);
}

XErrorTrap::~XErrorTrap() {
    XSync(display_, False);
    XSetErrorHandler(previous_);
}

bool XErrorTrap::failed() {
    XSync(display_, False);
    return trappedErrors.load() != 0;
}

}  // namespace zavren
