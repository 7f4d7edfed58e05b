#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/input.h"
#include "platform/log.h"

namespace zavren {

// Types the paste chord through the compositor's virtual-keyboard protocol by
// running wtype: Ctrl+Shift+V when sway or Hyprland names a terminal as the
// focused window, Ctrl+V otherwise. Trusted means the compositor offers a
// virtual keyboard (GNOME does not); without one the text stays on the
// clipboard for the user to paste.
class WtypeKeySynthesizer : public KeySynthesizer, public AccessibilityTrust {
  public:
    WtypeKeySynthesizer(SystemLog& log, std::map<std::string, std::string> env);

    void postPaste() override;
    bool isTrusted(bool prompt) override;

    // The focused window's app id, from the compositor's IPC; empty when unknown.
    std::string focusedApp();

  private:
    void markUnavailable(const std::string& why);

    SystemLog& log_;
    std::map<std::string, std::string> env_;
    std::optional<bool> available_;  // probed once: the compositor does not change
};

}  // namespace zavren
