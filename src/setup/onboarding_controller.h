#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "engine/installer/phase.h"
#include "platform/desktop.h"
#include "platform/dispatch.h"
#include "platform/input.h"
#include "setup/engine_sources.h"
#include "setup/onboarding_model.h"
#include "shared/types.h"

namespace zavren {

struct OnboardingPorts {
    Dispatcher& dispatcher;
    MicrophoneAccess& microphone;
    AccessibilityTrust& trust;
    Desktop& desktop;
    // The key the texts name, re-read with the permissions; right Alt when unset.
    std::function<HotkeyStatus()> hotkey{};
    // The engine's state, re-read with the permissions: a ready engine is shown as
    // installed, whatever put it there.
    std::function<EngineState()> engine{};
    EngineSourcesPorts sources{};
};

// The first-run window's state: the two permission flags (re-read once a second
// while the window is on screen) and the installer's phase. The window renders
// model() after every change and forwards its buttons to perform().
class OnboardingController : public std::enable_shared_from_this<OnboardingController> {
  public:
    using Subscription = std::shared_ptr<void>;

    // The installer must outlive the controller.
    static std::shared_ptr<OnboardingController> create(InstallerHandle& installer,
                                                        OnboardingPorts ports);

    OnboardingModel model() const;
    // What the install step shows: the download or the install from files, whichever
    // the user asked for last, and a ready engine as installed.
    InstallPhase shownPhase() const;
    bool micOK() const { return micOK_; }
    bool axOK() const { return axOK_; }

    void perform(OnboardingAction action);

    // The observer runs on the main thread after each change, for as long as the
    // returned token is held.
    [[nodiscard]] Subscription subscribe(std::function<void()> observer);

    // Polling runs only while the window is on screen; showing re-reads at once,
    // so a hidden window costs nothing and never shows stale permissions.
    void viewShown();
    void viewHidden();
    bool polling() const { return timer_ != nullptr; }

    OnboardingController(InstallerHandle& installer, OnboardingPorts ports);

  private:
    void poll();
    void setPermissions(bool mic, bool ax);
    HotkeyStatus readHotkey() const;
    void notify();

    InstallerHandle& installer_;
    OnboardingPorts ports_;
    bool micOK_ = false;  // until the sound server answers
    bool axOK_;
    HotkeyStatus hotkey_;
    std::optional<EngineState> engine_;
    std::shared_ptr<EngineSources> sources_;
    std::unique_ptr<Timer> timer_;
    Subscription installerSubscription_;
    std::vector<std::weak_ptr<std::function<void()>>> observers_;
};

}  // namespace zavren
