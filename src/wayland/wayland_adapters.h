#pragma once

#include <map>
#include <string>

#include "platform/dispatch.h"
#include "platform/log.h"
#include "platform/ui.h"
#include "wayland/data_control_pasteboard.h"
#include "wayland/ptt_protocol.h"
#include "wayland/virtual_keyboard.h"
#include "wayland/wayland_hotkey_monitor.h"
#include "wayland/wl_connection.h"
#include "wayland/wl_pasteboard.h"

namespace zavren {

// A top-level window would take the keyboard focus on many compositors, and the
// paste would land in it: no capsule; the tray icon carries the state.
class NoIndicatorPanel : public IndicatorPanel {
  public:
    void show() override {}
    void hide() override {}
};

// The ports a Wayland session uses in place of the X11 ones.
struct WaylandAdapters {
    WaylandAdapters(Dispatcher& dispatcher, SystemLog& log, const std::string& runtimeDir,
                    std::map<std::string, std::string> env)
        : hotkey(dispatcher, log, {.socketPath = pttSocketPath(runtimeDir)}),
          keys(log, std::move(env)),
          wlClipboard(dispatcher),
          pasteboard(wlClipboard),
          connection(dispatcher, log, {&keys, &pasteboard}) {
        keys.attach(connection);
        pasteboard.attach(connection);
    }

    WaylandHotkeyMonitor hotkey;
    VirtualKeyboard keys;
    WlPasteboard wlClipboard;  // where the compositor has no clipboard-manager protocol
    DataControlPasteboard pasteboard;
    NoIndicatorPanel panel;
    // Last: its thread stops before the parts it calls go.
    WaylandConnection connection;
};

}  // namespace zavren
