// The desktop program: command-line entries first, otherwise the tray program.
#include <QApplication>
#include <QTimer>

#include "app/zavren.h"
#include "cli/cli.h"
#include "dictation/controller.h"
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
#include "qt/windows/qt_window_factory.h"
#include "setup/setup_windows.h"
#include "shared/constants.h"
#include "text/itn.h"
#include "update/update_base.h"
#include "wayland/session.h"
#include "wayland/wayland_adapters.h"
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
    const auto given = env.find("ZAVREN_UPDATE_BASE");
    const UpdateBase base = resolveUpdateBase(
        given == env.end() ? std::nullopt : std::optional<std::string>(given->second));
    if (base.warning) log.line(LOG_PREFIX + *base.warning);

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
    QtDefaults defaults(paths.configDir);
    QtDesktop desktop;
    QtApplication application;
    FileInstanceLock lock(paths.runtimeDir + "/" + BUNDLE_ID + ".lock");
    AppState st;
    QtIndicatorPanel panel(st);
    QtStatusItem statusItem;
    std::optional<WaylandAdapters> wl;
    if (wayland) wl.emplace(dispatcher, log, paths.runtimeDir, env, st);
    HotkeyMonitor& hotkeyPort = wl ? static_cast<HotkeyMonitor&>(wl->hotkey) : hotkey;
    KeySynthesizer& keysPort = wl ? static_cast<KeySynthesizer&>(wl->keys) : keys;
    AccessibilityTrust& trustPort = wl ? static_cast<AccessibilityTrust&>(wl->keys) : trust;
    Pasteboard& pasteboardPort = wl ? static_cast<Pasteboard&>(wl->pasteboard) : pasteboard;
    IndicatorPanel& panelPort = wl ? static_cast<IndicatorPanel&>(wl->panel) : panel;

    ProcNetPortOwners portOwners;
    InotifyFolderWatcher folderWatcher;
    auto server = ServerManager::create({dispatcher, http, processes, log, portOwners, paths});
    server->followEngineFolder(folderWatcher);
    EngineInstaller installer(dispatcher, http, processes, paths.engineRoot, base.url);
    AppUpdater updater(dispatcher, http, desktop, defaults, base.url);
    qt::QtSetupWindowFactory windowFactory;
    QtFileChooser fileChooser;
    SetupWindows windows({windowFactory,
                          desktop,
                          dispatcher,
                          microphone,
                          trustPort,
                          qt::installedResourcesDir(),
                          [&] { return readHotkeyStatus(defaults, hotkeyPort); },
                          [&st] { return st.engine(); },
                          {&fileChooser, &processes, &log, paths.engineRoot}});

    auto paster = PasteSequence::create(dispatcher, pasteboardPort, keysPort, trustPort, log);
    DictationController::Deps deps{
        .st = st,
        .dispatcher = dispatcher,
        .http = http,
        .recorders = recorders,
        .paster = *paster,
        .panel = panelPort,
        .wavPath = paths.wav,
        .termsFile = paths.termsFile,
        .currentKind = [server] { return server->currentKind(); },
        .polish = [&defaults](std::string text) { return ITN::applyIfEnabled(defaults, text); },
        .engineIsOurs = [server] { return server->confirmOwnListener(); },
        .showInstaller = [&windows, &installer] { windows.showOnboarding(installer); },
    };
    auto controller = DictationController::create(deps);
    if (wl)
        wl->hotkey.setOnCancel([weak = std::weak_ptr<DictationController>(controller), &st] {
            auto c = weak.lock();
            if (c && st.state() == RecState::listening) c->cancel();
        });

    Platform platform;
    platform.dispatcher = &dispatcher;
    platform.http = &http;
    platform.processes = &processes;
    platform.recorders = &recorders;
    platform.hotkey = &hotkeyPort;
    platform.keys = &keysPort;
    platform.trust = &trustPort;
    platform.microphone = &microphone;
    platform.pasteboard = &pasteboardPort;
    platform.defaults = &defaults;
    platform.log = &log;
    platform.desktop = &desktop;
    platform.panel = &panelPort;
    platform.statusItem = &statusItem;
    platform.windows = &windows;
    platform.instanceLock = &lock;
    platform.application = &application;

    ShellParts parts{
        .server = server,
        .installer = installer,
        .updater = updater,
        .onFlags = [controller](const FlagsEvent& e) { controller->onFlags(e); },
        .flashHint = [controller](const std::string& text,
                                  double secs) { controller->flashHint(text, secs); },
        .canRetryDictation = [controller] { return controller->canRetry(); },
        .retryDictation = [controller] { controller->retryLast(); },
        // The real file behind /proc/self/exe: /usr/bin/zavren, or the build's own.
        .program = QCoreApplication::applicationFilePath().toStdString(),
    };
    auto zavren = std::make_shared<Zavren>(platform, paths, st, std::move(parts));
    QObject::connect(&app, &QCoreApplication::aboutToQuit,
                     [&zavren] { zavren->applicationWillTerminate(); });
    // Start-up runs inside the event loop, so a refused instance can quit it.
    QTimer::singleShot(0, [&zavren] { zavren->applicationDidFinishLaunching(); });
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "ptt")
        return pttCommand({argv + 2, argv + argc},
                          pttSocketPath(Paths::fromEnvironment(currentEnvironment()).runtimeDir));
    if (auto code = cli::run(argc, argv)) return *code;
    return runDesktop(argc, argv);
}
