#pragma once

#include <functional>

#include "qt/windows/fixed_width_window.h"
#include "setup/window_port.h"

namespace zavren::qt {

class PrivacyWindow : public FixedWidthWindow {
  public:
    static constexpr int WIDTH = 440;
    PrivacyWindow(const PrivacyModel& model, std::function<void()> copyPage);
};

}  // namespace zavren::qt
