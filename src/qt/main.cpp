// The desktop program: command-line entries first, otherwise the tray program.
#include <QApplication>
#include <QTimer>

#include "app/instance_lock.h"
#include "app/zavren.h"
#include "cli/cli.h"
#include "posix/curl_http_client.h"
#include "posix/process_launcher.h"
#include "pulse/pulse_connection.h"
#include "pulse/pulse_microphone.h"
#include "pulse/pulse_recorder.h"
#include "qt/indicator_panel.h"
#include "qt/live_services.h"
#include "qt/qt_application.h"
#include "qt/qt_defaults.h"
#include "qt/qt_desktop.h"
#include "qt/qt_dispatcher.h"
#include "qt/qt_hotkey_monitor.h"
#include "qt/qt_pasteboard.h"
#include "qt/qt_status_item.h"
#include "qt/system_log.h"
#include "qt/windows/qt_window_factory.h"
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
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("zavren"));
    QApplication::setApplicationVersion(QString::fromStdString(APP_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("zavren"));

    StderrSyslog log;
    const auto env = currentEnvironment();
    Paths paths = Paths::fromEnvironment(env);
    if (!ensurePrivateRuntimeDir(paths, env)) {
        log.line(LOG_PREFIX + "无法创建私有运行目录,本实例退出");
        return 1;
    }

    QtDispatcher dispatcher;
    CurlHttpClient http;
    PosixProcessLauncher processes;
    auto pulse = std::make_shared<PulseConnection>();
    PulseRecorderFactory recorders(pulse);
    PulseMicrophone microphone(pulse);
    QtHotkeyMonitor hotkey;
    XTestKeySynthesizer keys;
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
    if (wayland) wl.emplace(dispatcher, log, paths.runtimeDir, env);
    HotkeyMonitor& hotkeyPort = wl ? static_cast<HotkeyMonitor&>(wl->hotkey) : hotkey;
    KeySynthesizer& keysPort = wl ? static_cast<KeySynthesizer&>(wl->keys) : keys;
    AccessibilityTrust& trustPort = wl ? static_cast<AccessibilityTrust&>(wl->keys) : trust;
    Pasteboard& pasteboardPort = wl ? static_cast<Pasteboard&>(wl->pasteboard) : pasteboard;
    IndicatorPanel& panelPort = wl ? static_cast<IndicatorPanel&>(wl->panel) : panel;

    auto server = ServerManager::create({dispatcher, http, processes, log, paths});
    EngineInstaller installer(dispatcher, http, processes, paths.engineRoot, UPDATE_BASE.str());
    AppUpdater updater(dispatcher, http, desktop, defaults, UPDATE_BASE.str());
    qt::QtSetupWindowFactory windowFactory;
    SetupWindows windows(
        {windowFactory, desktop, dispatcher, microphone, trustPort, qt::installedResourcesDir()});

    std::weak_ptr<Zavren> shell;
    DictationController::Deps deps{
        .st = st,
        .dispatcher = dispatcher,
        .http = http,
        .recorders = recorders,
        .pasteboard = pasteboardPort,
        .keys = keysPort,
        .trust = trustPort,
        .panel = panelPort,
        .wavPath = paths.wav,
        .termsFile = paths.termsFile,
        .currentKind = [server] { return server->currentKind(); },
        .polish = [&defaults](std::string text) { return ITN::applyIfEnabled(defaults, text); },
        .onRecordingChanged =
            [&shell] {
                if (auto z = shell.lock()) z->refreshIcon();
            },
    };
    auto controller = DictationController::create(deps);
    if (wl)
        wl->hotkey.setOnCancel([weak = std::weak_ptr<DictationController>(controller)] {
            if (auto c = weak.lock(); c && c->recording()) c->cancel();
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
    LiveSetupWindows windowPort(windows);
    platform.windows = &windowPort;
    platform.instanceLock = &lock;
    platform.application = &application;

    LiveEngineService serverService(server, paths.engineRoot);
    LiveInstallerService installerService(installer);
    LiveUpdateService updateService(updater);
    LiveDictationService dictationService(controller);
    LiveTextService textService(defaults, desktop, paths.termsFile);
    Services services{&serverService, &installerService, &updateService, &dictationService,
                      &textService};

    auto zavren = std::make_shared<Zavren>(platform, paths, st, services);
    shell = zavren;
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
