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
#include "x11/xtest_key_synthesizer.h"
#include "x11/xtest_trust.h"

using namespace zavren;

namespace {

int runDesktop(int argc, char** argv) {
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

    auto server = ServerManager::create({dispatcher, http, processes, log, paths});
    EngineInstaller installer(dispatcher, http, processes, paths.engineRoot, UPDATE_BASE.str());
    AppUpdater updater(dispatcher, http, desktop, defaults, UPDATE_BASE.str());
    qt::QtSetupWindowFactory windowFactory;
    SetupWindows windows(
        {windowFactory, desktop, dispatcher, microphone, trust, qt::installedResourcesDir()});

    auto paster = PasteSequence::create(dispatcher, pasteboard, keys, trust, log);
    DictationController::Deps deps{
        .st = st,
        .dispatcher = dispatcher,
        .http = http,
        .recorders = recorders,
        .paster = *paster,
        .panel = panel,
        .wavPath = paths.wav,
        .termsFile = paths.termsFile,
        .currentKind = [server] { return server->currentKind(); },
        .polish = [&defaults](std::string text) { return ITN::applyIfEnabled(defaults, text); },
        .engineIsOurs = {},
    };
    auto controller = DictationController::create(deps);

    Platform platform;
    platform.dispatcher = &dispatcher;
    platform.http = &http;
    platform.processes = &processes;
    platform.recorders = &recorders;
    platform.hotkey = &hotkey;
    platform.keys = &keys;
    platform.trust = &trust;
    platform.microphone = &microphone;
    platform.pasteboard = &pasteboard;
    platform.defaults = &defaults;
    platform.log = &log;
    platform.desktop = &desktop;
    platform.panel = &panel;
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
    QObject::connect(&app, &QCoreApplication::aboutToQuit,
                     [&zavren] { zavren->applicationWillTerminate(); });
    // Start-up runs inside the event loop, so a refused instance can quit it.
    QTimer::singleShot(0, [&zavren] { zavren->applicationDidFinishLaunching(); });
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (auto code = cli::run(argc, argv)) return *code;
    return runDesktop(argc, argv);
}
