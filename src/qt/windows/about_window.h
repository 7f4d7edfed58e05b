#pragma once

#include "qt/windows/fixed_width_window.h"
#include "setup/window_port.h"

namespace zavren::qt {

class AboutWindow : public FixedWidthWindow {
  public:
    static constexpr int WIDTH = 300;
    AboutWindow(const AboutModel& model, AboutActions actions);
    // Whether one of the logo files loaded.
    bool hasLogo() const { return hasLogo_; }

  private:
    bool hasLogo_ = false;
};

}  // namespace zavren::qt
