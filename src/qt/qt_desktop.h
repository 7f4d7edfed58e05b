#pragma once

#include "platform/desktop.h"

namespace zavren {

class QtDesktop : public Desktop {
  public:
    void openUrl(const std::string& url) override;
    void activate() override;
    int runAlert(const Alert& alert) override;
    void openAccessibilitySettings() override;
};

}  // namespace zavren
