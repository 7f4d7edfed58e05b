#include "setup/setup_windows.h"

namespace zavren {

SetupWindows::SetupWindows(SetupWindowsPorts ports) : ports_(std::move(ports)) {}

SetupWindows::~SetupWindows() {
    // The windows go before the controller they render.
    onboarding_.reset();
    about_.reset();
    privacy_.reset();
}

void SetupWindows::bringToFront(SetupWindow& window) {
    ports_.desktop.activate();
    window.show();
}

void SetupWindows::showOnboarding(InstallerHandle& installer) {
    if (!onboarding_) {
        controller_ = OnboardingController::create(
            installer,
            OnboardingPorts{ports_.dispatcher, ports_.microphone, ports_.trust, ports_.desktop,
                            ports_.hotkey, ports_.engine, ports_.sources});
        onboarding_ = ports_.factory.makeOnboarding(controller_);
    }
    bringToFront(*onboarding_);
    controller_->viewShown();
}

void SetupWindows::closeOnboarding() {
    if (!onboarding_) return;
    onboarding_->hide();
    controller_->viewHidden();
}

void SetupWindows::showAbout(std::optional<std::string> engineVersion) {
    if (about_) about_->hide();
    std::weak_ptr<bool> alive = alive_;
    Desktop* desktop = &ports_.desktop;
    AboutActions actions{
        [this, alive] {
            if (alive.lock()) showPrivacy();
        },
        [desktop, alive](const std::string& url) {
            if (alive.lock()) desktop->openUrl(url);
        },
    };
    about_ = ports_.factory.makeAbout(aboutModel(engineVersion, ports_.resourcesDir),
                                      std::move(actions));
    bringToFront(*about_);
}

void SetupWindows::showPrivacy() {
    if (!privacy_) {
        std::weak_ptr<bool> alive = alive_;
        Desktop* desktop = &ports_.desktop;
        privacy_ =
            ports_.factory.makePrivacy(privacyModel(), [desktop, alive](const std::string& url) {
                if (alive.lock()) desktop->openUrl(url);
            });
    }
    bringToFront(*privacy_);
}

}  // namespace zavren
