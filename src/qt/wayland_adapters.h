#pragma once

#include <QGuiApplication>
#include <map>
#include <memory>
#include <string>

#include "app/desktop_program.h"
#include "dictation/hints.h"
#include "dictation/portal_hotkey.h"
#include "dictation/portal_keyboard.h"
#include "dictation/preferred_keys.h"
#include "platform/defaults.h"

#include "platform/dispatch.h"
#include "platform/log.h"
#include "platform/process.h"
#include "platform/ui.h"
#include "portal/dbus_global_shortcuts.h"
#include "portal/dbus_remote_desktop.h"
#include "qt/desktop_notifications.h"
#include "shared/app_state.h"
#include "shared/constants.h"
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
    WaylandAdapters(Dispatcher& dispatcher, SystemLog& log, Defaults& defaults,
                    const std::string& runtimeDir, std::map<std::string, std::string> env,
                    AppState& st, ProcessLauncher& processes)
        : hotkey(dispatcher, log, {.socketPath = pttSocketPath(runtimeDir)}),
          keys(log, std::move(env)),
          wlClipboard(dispatcher, processes),
          pasteboard(wlClipboard),
          capsule(st, log),
          notifications(log),
          panel(
              capsule, [this] { return capsule.available(); },
              [this](const std::string& text, double secs) { notifications.notify(text, secs); },
              [&st] { return st.state() == RecState::listening; },
              [this] { notifications.withdraw(); }),
          shortcutsBus(QGuiApplication::desktopFileName()),
          portalHotkey(PortalHotkeyMonitor::create({dispatcher, hotkey, shortcutsBus, log})),
          portalKeys(PortalKeyboard::create({dispatcher, portalBus, defaults, log})),
          preferredKeys({keys, keys, [this] { return connection.ready(); }}, portalKeys, st),
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
    // The desktop portal: the held key as its global shortcut where offered, the
    // paste where the compositor has no virtual keyboard. The shortcuts' bus goes
    // first: it registers the program with the portal before any other call.
    DbusGlobalShortcuts shortcutsBus;
    std::shared_ptr<PortalHotkeyMonitor> portalHotkey;
    DbusRemoteDesktop portalBus;
    std::shared_ptr<PortalKeyboard> portalKeys;
    PreferredKeys preferredKeys;
    // Last: its thread stops before the parts it calls go.
    WaylandConnection connection;

    // What the user must still get when the clipboard or the portal keys fail.
    void reportFailuresTo(DesktopProgram& program, SystemLog& log) {
        // The paste sequence tells the user, as for any paste nobody took.
        portalKeys->onUndelivered([&program] { program.paster().keepTranscript(); });
        wlClipboard.onCopyFailed([&program, &log](const std::string& text) {
            log.line(LOG_PREFIX + "wl-copy 未能把转写结果放到剪贴板");
            program.dictation().flashHint(copyFailedHint(text), COPY_FAILED_HINT_SECONDS);
        });
    }
};

}  // namespace zavren
