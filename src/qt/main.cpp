// The desktop program: command-line entries first, otherwise the tray program.
#include <QApplication>
#include <QTimer>

#include "app/desktop_program.h"
#include "cli/cli.h"
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
    if (wayland) wl.emplace(dispatcher, log, defaults, paths.runtimeDir, env, st, processes);

    ProcNetPortOwners portOwners;
    InotifyFolderWatcher folderWatcher;
    qt::QtSetupWindowFactory windowFactory;
    Platform platform{.dispatcher = &dispatcher,
                      .http = &http,
                      .processes = &processes,
                      .recorders = &recorders,
                      .hotkey = wl ? static_cast<HotkeyMonitor*>(wl->portalHotkey.get()) : &hotkey,
                      .keys = wl ? static_cast<KeySynthesizer*>(&wl->preferredKeys) : &keys,
                      .trust = wl ? static_cast<AccessibilityTrust*>(&wl->preferredKeys) : &trust,
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
    if (wl) wl->reportFailuresTo(program, log);
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
