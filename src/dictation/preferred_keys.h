#pragma once

#include <functional>
#include <memory>

#include "dictation/portal_keyboard.h"
#include "platform/input.h"
#include "shared/app_state.h"

namespace zavren {

// The paste chord through the compositor's own virtual keyboard where it has one,
// else through the desktop portal. The portal is asked only once the compositor is
// known to lack one: a compositor that has it must never raise an approval prompt.
class PreferredKeys : public KeySynthesizer, public AccessibilityTrust {
  public:
    struct Primary {
        KeySynthesizer& keys;
        AccessibilityTrust& trust;
        // The compositor's globals are known, so trust answers for good.
        std::function<bool()> known;
    };

    PreferredKeys(Primary primary, std::shared_ptr<PortalKeyboard> portal, AppState& st);

    bool isTrusted(bool prompt) override;
    void askAgain() override;
    // The compositor tells the focused application whichever way the keys go.
    std::vector<std::string> focusedApp() override { return primary_.keys.focusedApp(); }
    void postPaste(PasteKeys keys) override;

  private:
    bool portalWanted();

    Primary primary_;
    std::shared_ptr<PortalKeyboard> portal_;
    AppState::Subscription listening_;
};

}  // namespace zavren
