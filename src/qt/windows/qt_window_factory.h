#pragma once

#include <optional>
#include <string>

#include "setup/window_port.h"

namespace zavren::qt {

// Makes the Qt windows that SetupWindows shows and hides.
class QtSetupWindowFactory : public SetupWindowFactory {
  public:
    std::unique_ptr<SetupWindow> makeOnboarding(
        std::shared_ptr<OnboardingController> controller) override;
    std::unique_ptr<SetupWindow> makeAbout(const AboutModel& model, AboutActions actions) override;
    std::unique_ptr<SetupWindow> makePrivacy(const PrivacyModel& model,
                                             std::function<void()> copyPage) override;
};

// The installed program's resources folder (<prefix>/share/zavren next to the
// executable's bin folder), when it exists.
std::optional<std::string> installedResourcesDir();

}  // namespace zavren::qt
