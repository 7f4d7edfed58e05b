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

std::function<void()> SetupWindows::offering(AddressOffer offer) {
    return [this, alive = std::weak_ptr<bool>(alive_), offer = std::move(offer)] {
        if (alive.lock()) offerAddress(ports_.desktop, ports_.pasteboard, offer);
    };
}

void SetupWindows::showAbout(std::optional<std::string> engineVersion) {
    if (about_) about_->hide();
    std::weak_ptr<bool> alive = alive_;
    const AboutModel model = aboutModel(engineVersion, ports_.resourcesDir);
    AboutActions actions{
        [this, alive] {
            if (alive.lock()) showPrivacy();
        },
        offering({"邮箱地址", model.contactAddress, ""}),
    };
    about_ = ports_.factory.makeAbout(model, std::move(actions));
    bringToFront(*about_);
}

void SetupWindows::showPrivacy() {
    if (!privacy_) {
        const PrivacyModel model = privacyModel();
        privacy_ = ports_.factory.makePrivacy(
            model, offering({"产品页地址", model.pageUrl, PASTE_IN_BROWSER}));
    }
    bringToFront(*privacy_);
}

}  // namespace zavren
