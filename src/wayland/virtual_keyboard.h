#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/input.h"
#include "platform/log.h"
#include "wayland/wl_connection.h"

struct zwp_virtual_keyboard_v1;

namespace zavren {

// What typing the paste chord needs from a keymap.
struct PasteKeymap {
    std::string keymap;                 // text form, as the compositor takes it
    std::uint32_t v = 0;                // evdev code of the key that types "v"
    std::uint32_t ctrl = 0, shift = 0;  // modifier masks
};

// From the user's default layout (XKB_DEFAULT_* or the built-in one); when it
// has no "v", from the US layout, so the chord still means paste.
std::optional<PasteKeymap> pasteKeymap();

// Types the paste chord through the compositor's virtual-keyboard protocol; the
// focused application is what sway or Hyprland names. Trusted means the compositor offers a virtual
// keyboard (GNOME does not); without one the text stays on the clipboard for the user.
class VirtualKeyboard : public KeySynthesizer,
                        public AccessibilityTrust,
                        public WaylandConnection::Client {
  public:
    VirtualKeyboard(SystemLog& log, std::map<std::string, std::string> env);
    void attach(WaylandConnection& connection) { connection_ = &connection; }

    std::vector<std::string> focusedApp() override;
    void postPaste(PasteKeys keys) override;
    bool isTrusted(bool prompt) override;

    void bound(WaylandConnection& connection, const WaylandConnection::Globals& globals) override;
    void closing() override;

  private:
    SystemLog& log_;
    std::map<std::string, std::string> env_;
    WaylandConnection* connection_ = nullptr;
    std::atomic<bool> usable_{false};
    bool told_ = false;

    // Connection thread only.
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    PasteKeymap keys_;
};

}  // namespace zavren
