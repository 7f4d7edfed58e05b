// The desktop program: command-line entries first, otherwise the tray program.
#include <QApplication>
#include <QTimer>

#include "app/desktop_program.h"
#include "cli/cli.h"
#include "dictation/hints.h"
#include "dictation/portal_hotkey.h"
#include "dictation/portal_keyboard.h"
#include "dictation/preferred_keys.h"
#include "portal/dbus_global_shortcuts.h"
#include "portal/dbus_remote_desktop.h"
#include "posix/curl_http_client.h"
#include "posix/inotify_folder_watcher.h"
#include "posix/instance_lock.h"
#include "posix/proc_net_port_owners.h"
#include "posix/process_launcher.h"
#include "posix/system_log.h"
#include "pulse/pulse_connection.h"
#include "pulse/pulse_microphone.h"
#include "pulse/pulse_recorder.h"
#include "qt/indicator_panel.h"
#include "qt/qt_application.h"
#include "qt/qt_defaults.h"
#include "qt/qt_desktop.h"
#include "qt/qt_dispatcher.h"
#include "qt/qt_file_chooser.h"
#include "qt/qt_hotkey_monitor.h"
#include "qt/qt_pasteboard.h"
#include "qt/qt_status_item.h"
#include "qt/timed_application.h"
#include "qt/wayland_adapters.h"
#include "qt/windows/qt_window_factory.h"
#include "shared/constants.h"
#include "wayland/session.h"
#include "x11/xtest_key_synthesizer.h"
#include "x11/xtest_trust.h"

using namespace zavren;

namespace {

int runDesktop(int argc, char** argv) {
    const bool wayland = sessionKind(currentEnvironment()) == SessionKind::wayland;
    if (wayland) ::setenv("QT_QPA_PLATFORM", "wayland;xcb", 0);
    TimedApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("zavren"));
    QApplication::setApplicationVersion(QString::fromStdString(APP_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("zavren"));

    const auto env = currentEnvironment();
    Paths paths = Paths::fromEnvironment(env);
    StderrSyslog log(paths.logDir + "/zavren.log");
    if (!ensurePrivateRuntimeDir(paths, env)) {
        log.line(LOG_PREFIX + "无法创建私有运行目录,本实例退出");
        return 1;
    }

    QtDispatcher dispatcher;
    CurlHttpClient http;
    PosixProcessLauncher processes;
    auto pulse = std::make_shared<PulseConnection>();
    PulseRecorderFactory recorders(pulse);
    PulseMicrophone microphone(dispatcher, pulse);
    // The paste's re-pressed modifiers must not look like the user's keys to the monitor.
    auto syntheticKeys = std::make_shared<SyntheticKeyLedger>();
    QtHotkeyMonitor hotkey(syntheticKeys);
    XTestKeySynthesizer keys(syntheticKeys);
    XTestTrust trust;
    QtPasteboard pasteboard;
    QtDefaults defaults(paths.configDir, &log);
    QtDesktop desktop;
    QtApplication application;
    FileInstanceLock lock(paths.runtimeDir + "/" + BUNDLE_ID + ".lock");
    AppState st;
    QtIndicatorPanel panel(st);
    QtStatusItem statusItem;
    std::optional<WaylandAdapters> wl;
    if (wayland) wl.emplace(dispatcher, log, paths.runtimeDir, env, st);

    // Wayland keys through the desktop portal: the held key as its global shortcut
    // where offered, the paste where the compositor has no virtual keyboard.
    std::optional<DbusGlobalShortcuts> shortcutsBus;
    std::shared_ptr<PortalHotkeyMonitor> portalHotkey;
    std::optional<DbusRemoteDesktop> portalBus;
    std::shared_ptr<PortalKeyboard> portalKeys;
    std::optional<PreferredKeys> waylandKeys;
    if (wl) {
        shortcutsBus.emplace(QGuiApplication::desktopFileName());  // the first portal call
        portalHotkey = PortalHotkeyMonitor::create({dispatcher, wl->hotkey, *shortcutsBus, log});
        portalBus.emplace();
        portalKeys = PortalKeyboard::create({dispatcher, *portalBus, defaults, log});
        waylandKeys.emplace(
            PreferredKeys::Primary{wl->keys, wl->keys, [&wl] { return wl->connection.ready(); }},
            portalKeys, st);
    }
    // ---

    ProcNetPortOwners portOwners;
    InotifyFolderWatcher folderWatcher;
    qt::QtSetupWindowFactory windowFactory;
    Platform platform{
        .dispatcher = &dispatcher,
        .http = &http,
        .processes = &processes,
        .recorders = &recorders,
        .hotkey = portalHotkey ? static_cast<HotkeyMonitor*>(portalHotkey.get()) : &hotkey,
        .keys = waylandKeys ? static_cast<KeySynthesizer*>(&*waylandKeys) : &keys,
        .trust = waylandKeys ? static_cast<AccessibilityTrust*>(&*waylandKeys) : &trust,
        .microphone = &microphone,
        .pasteboard = wl ? static_cast<Pasteboard*>(&wl->pasteboard) : &pasteboard,
        .defaults = &defaults,
        .log = &log,
        .desktop = &desktop,
        .panel = wl ? static_cast<IndicatorPanel*>(&wl->panel) : &panel,
        .statusItem = &statusItem,
        .windows = nullptr,
        .instanceLock = &lock,
        .application = &application};
    QtFileChooser fileChooser;
    DesktopProgram program(
        {platform, portOwners, folderWatcher, windowFactory, qt::installedResourcesDir(),
         &fileChooser},
        st,
        // The real file behind /proc/self/exe: /usr/bin/zavren, or the build's own.
        {paths, env, QCoreApplication::applicationFilePath().toStdString()});
    // What the user must still get when the Wayland clipboard or the portal keys fail.
    if (wl) {
        // The paste sequence tells the user, as for any paste nobody took.
        portalKeys->onUndelivered([&program] { program.paster().keepTranscript(); });
        wl->wlClipboard.onCopyFailed([&program, &log](const std::string& text) {
            log.line(LOG_PREFIX + "wl-copy 未能把转写结果放到剪贴板");
            program.dictation().flashHint(copyFailedHint(text), COPY_FAILED_HINT_SECONDS);
        });
    }
    // ---
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&program] { program.terminate(); });
    QTimer::singleShot(0, [&program] { program.launch(); });
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "ptt") {
        const auto env = currentEnvironment();
        return pttCommand({argv + 2, argv + argc},
                          pttSocketPath(programRuntimeDir(Paths::fromEnvironment(env), env)));
    }
    if (auto code = cli::run(argc, argv)) return *code;
    return runDesktop(argc, argv);
}
