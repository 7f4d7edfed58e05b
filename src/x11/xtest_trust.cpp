#include "x11/xtest_trust.h"

#include <X11/extensions/XTest.h>

namespace zavren {

bool XTestTrust::isTrusted(bool) {
    if (trusted_) return true;
    DisplayPtr d = openDisplay();
    if (!d) return false;
    int event = 0, error = 0, major = 0, minor = 0;
    trusted_ = XTestQueryExtension(d.get(), &event, &error, &major, &minor);
    return trusted_;
}

}  // namespace zavren
