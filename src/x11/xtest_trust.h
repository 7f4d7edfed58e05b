#pragma once

#include "platform/input.h"
#include "x11/x_display.h"

namespace zavren {

// On X11 any client may synthesise input through XTest; trusted means the
// extension is there. There is no permission prompt to raise.
class XTestTrust : public AccessibilityTrust {
  public:
    bool isTrusted(bool prompt) override;

  private:
    bool trusted_ = false;  // the extension does not go away once seen
};

}  // namespace zavren
