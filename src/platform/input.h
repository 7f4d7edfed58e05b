#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/hotkey_key.h"

namespace zavren {

// What the user did with the dictation key, whichever source heard it (a key
// monitor, keyboard devices, the ptt control socket, a desktop shortcut).
enum class HotkeyEvent { press, release, cancel };

class HotkeyMonitor {
  public:
    virtual ~HotkeyMonitor() = default;
    // Installs the global monitor; the handler runs on the main thread.
    virtual void install(std::function<void(HotkeyEvent)> handler) = 0;
    // The key the user holds to dictate. Takes effect with the next key event; a
    // key held while the choice changes still ends its dictation when it is released.
    virtual void choose(HotkeyKey key) = 0;
    // Where keys come from when the monitor cannot see them all; none when it can.
    virtual std::optional<HotkeySources> sources() const { return std::nullopt; }
};

// The keys that make an application paste.
enum class PasteKeys { ctrlV, ctrlShiftV, shiftInsert };

class KeySynthesizer {
  public:
    virtual ~KeySynthesizer() = default;
    // The names of the application with the keyboard focus (an X11 window's
    // WM_CLASS instance and class, a Wayland app id); empty when unknown.
    virtual std::vector<std::string> focusedApp() = 0;
    // Posts the chord's key-down and key-up to whatever has the focus.
    virtual void postPaste(PasteKeys keys) = 0;
};

class AccessibilityTrust {
  public:
    virtual ~AccessibilityTrust() = default;
    // prompt: also raise the platform's permission prompt when not trusted.
    virtual bool isTrusted(bool prompt) = 0;
    // Raises the permission prompt when the permission is missing.
    bool askForTrust() { return isTrusted(true); }
    // The user asks from the menu: a permission refused before is asked for again.
    virtual void askAgain() { isTrusted(true); }
};

class MicrophoneAccess {
  public:
    virtual ~MicrophoneAccess() = default;
    // Neither call waits: the answer comes later, on the main thread.
    virtual void authorized(std::function<void(bool)> answer) = 0;
    // Asks (or re-checks).
    virtual void request(std::function<void(bool granted)> done) = 0;
};

}  // namespace zavren
