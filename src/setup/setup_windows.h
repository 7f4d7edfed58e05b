#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/copied_address.h"
#include "platform/hotkey_key.h"
#include "platform/ui.h"
#include "setup/window_port.h"

namespace zavren {

struct SetupWindowsPorts {
    SetupWindowFactory& factory;
    Desktop& desktop;
    Pasteboard& pasteboard;
    Dispatcher& dispatcher;
    MicrophoneAccess& microphone;
    AccessibilityTrust& trust;
    // The installed program's resources folder (for the logo), when it has one.
    std::optional<std::string> resourcesDir;
    std::function<HotkeyStatus()> hotkey{};
    std::function<EngineState()> engine{};
    EngineSourcesPorts sources{};
};

// Owns the first-run, about and privacy windows. The first-run and privacy windows
// are made once and then only shown and hidden; the about window is made anew on
// every show so it carries the engine version of that moment. Every show first
// brings the program to the front. Main thread only.
class SetupWindows : public SetupWindowsPort {
  public:
    explicit SetupWindows(SetupWindowsPorts ports);
    ~SetupWindows() override;
    SetupWindows(const SetupWindows&) = delete;
    SetupWindows& operator=(const SetupWindows&) = delete;

    // Once the window exists the argument is not used: the window keeps the
    // installer it was made with (which must outlive this object).
    void showOnboarding(InstallerHandle& installer) override;
    void closeOnboarding() override;
    void showAbout(std::optional<std::string> engineVersion) override;
    void showPrivacy() override;

    // The first-run window's state, once it exists.
    std::shared_ptr<OnboardingController> onboardingController() const { return controller_; }

  private:
    void bringToFront(SetupWindow& window);
    // A callback for a window's link: hands over the address while this object lives.
    std::function<void()> offering(AddressOffer offer);

    SetupWindowsPorts ports_;
    std::shared_ptr<OnboardingController> controller_;
    std::unique_ptr<SetupWindow> onboarding_;
    std::unique_ptr<SetupWindow> about_;
    std::unique_ptr<SetupWindow> privacy_;
    // Lets the windows' button callbacks notice that this object is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zavren
