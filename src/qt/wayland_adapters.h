#pragma once

#include <map>
#include <string>

#include "platform/dispatch.h"
#include "platform/log.h"
#include "platform/ui.h"
#include "qt/desktop_notifications.h"
#include "shared/app_state.h"
#include "wayland/data_control_pasteboard.h"
#include "wayland/panel/layer_shell_panel.h"
#include "wayland/panel/wayland_indicator.h"
#include "wayland/ptt_protocol.h"
#include "wayland/virtual_keyboard.h"
#include "wayland/wayland_hotkey_monitor.h"
#include "wayland/wl_connection.h"
#include "wayland/wl_pasteboard.h"

namespace zavren {

// The ports a Wayland session uses in place of the X11 ones.
struct WaylandAdapters {
    WaylandAdapters(Dispatcher& dispatcher, SystemLog& log, const std::string& runtimeDir,
                    std::map<std::string, std::string> env, AppState& st)
        : hotkey(dispatcher, log, {.socketPath = pttSocketPath(runtimeDir)}),
          keys(log, std::move(env)),
          wlClipboard(dispatcher),
          pasteboard(wlClipboard),
          capsule(st, log),
          notifications(log),
          panel(
              capsule, [this] { return capsule.available(); },
              [this](const std::string& text, double secs) { notifications.notify(text, secs); },
              [&st] { return st.state() == RecState::listening; },
              [this] { notifications.withdraw(); }),
          connection(dispatcher, log, {&keys, &pasteboard}) {
        keys.attach(connection);
        pasteboard.attach(connection);
    }

    WaylandHotkeyMonitor hotkey;
    VirtualKeyboard keys;
    WlPasteboard wlClipboard;  // where the compositor has no clipboard-manager protocol
    DataControlPasteboard pasteboard;
    // A top-level window would take the keyboard focus on many compositors and the
    // paste would land in it: the capsule only on a layer surface.
    LayerShellPanel capsule;
    DesktopNotifications notifications;
    WaylandIndicator panel;
    // Last: its thread stops before the parts it calls go.
    WaylandConnection connection;
};

}  // namespace zavren
