#pragma once

#include <functional>
#include <memory>
#include <string>

#include "setup/about_model.h"
#include "setup/onboarding_controller.h"
#include "setup/privacy_model.h"

namespace zavren {

inline const std::string ONBOARDING_TITLE = "欢迎使用 ZAVREN.AI";
inline const std::string ABOUT_TITLE = "关于 ZAVREN.AI";
inline const std::string PRIVACY_TITLE = "隐私说明";

// A titled, closable window of fixed width whose height follows its content.
// Closing it only hides it.
class SetupWindow {
  public:
    virtual ~SetupWindow() = default;
    // Makes it the key and front-most window of the program.
    virtual void show() = 0;
    virtual void hide() = 0;
};

// What a link-styled address does when clicked: it is copied, never opened.
inline const std::string COPY_ADDRESS_TIP = "点击复制地址";

struct AboutActions {
    std::function<void()> showPrivacy;
    std::function<void()> copyContact;
};

// Builds the three windows, each centred on the screen once, when it is made.
class SetupWindowFactory {
  public:
    virtual ~SetupWindowFactory() = default;
    // The window renders controller->model() after every change it announces,
    // and calls viewHidden() when the user closes it.
    virtual std::unique_ptr<SetupWindow> makeOnboarding(
        std::shared_ptr<OnboardingController> controller) = 0;
    virtual std::unique_ptr<SetupWindow> makeAbout(const AboutModel& model,
                                                   AboutActions actions) = 0;
    virtual std::unique_ptr<SetupWindow> makePrivacy(const PrivacyModel& model,
                                                     std::function<void()> copyPage) = 0;
};

}  // namespace zavren
