#pragma once

#include "platform/desktop.h"

namespace zavren {

class QtDesktop : public Desktop {
  public:
    void openFile(const std::string& path, std::function<void(bool)> opened) override;
    void defaultHandler(const std::string& mimeType,
                        std::function<void(std::optional<DesktopHandler>)> answer) override;
    void activate() override;
    void showAlert(const Alert& alert, std::function<void(int)> answered) override;
    void openAccessibilitySettings() override;
};

}  // namespace zavren
