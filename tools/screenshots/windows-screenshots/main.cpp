// Renders the first-run window in every installer phase and permission state, and
// the about and privacy windows, to PNG files for a person to look at.
// Usage: windows-screenshots <folder>   (runs on the offscreen platform by default)

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "qt/windows/about_window.h"
#include "qt/windows/onboarding_window.h"
#include "qt/windows/privacy_window.h"

using namespace zavren;

namespace {

class StillInstaller : public InstallerHandle {
  public:
    const InstallPhase& phase() const override { return phase_; }
    Subscription subscribe(std::function<void()> observer) override {
        auto token = std::make_shared<std::function<void()>>(std::move(observer));
        observer_ = token;
        return token;
    }
    void start() override {}
    void set(InstallPhase::Value v) {
        phase_.value = std::move(v);
        if (auto o = observer_.lock()) (*o)();
    }

  private:
    InstallPhase phase_;
    std::weak_ptr<std::function<void()>> observer_;
};

// Nothing runs later here: each picture is taken right after its state is set.
class StillDispatcher : public Dispatcher {
  public:
    void post(Task) override {}
    void postAfter(Duration, Task) override {}
    std::unique_ptr<Timer> repeating(Duration, Task) override { return nullptr; }
    void background(Task) override {}
    void backgroundAfter(Duration, Task) override {}
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
};

// Answers every port the first-run window needs; nothing is ever chosen or run.
struct Permissions : MicrophoneAccess, AccessibilityTrust, Desktop, FileChooser {
    bool granted = false;
    void authorized(std::function<void(bool)> answer) override { answer(granted); }
    void request(std::function<void(bool)> done) override { done(granted); }
    bool isTrusted(bool) override { return granted; }
    void openFile(const std::string&, std::function<void(bool)>) override {}
    void defaultHandler(const std::string&,
                        std::function<void(std::optional<DesktopHandler>)>) override {}
    void activate() override {}
    void showAlert(const Alert&, std::function<void(int)>) override {}
    void openAccessibilitySettings() override {}
    void choose(const FileRequest&, std::function<void(std::optional<std::string>)>) override {}
};

bool save(QWidget& window, const QDir& dir, const QString& name) {
    window.show();
    // A window manager applies a new fixed size only after a round trip.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 150) QApplication::processEvents(QEventLoop::AllEvents, 20);
    const QString path = dir.filePath(name + ".png");
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "windows-screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s %dx%d\n", qPrintable(path), window.width(), window.height());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: windows-screenshots <folder>\n");
        return 2;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (!qEnvironmentVariableIsSet("QT_STYLE_OVERRIDE"))
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "windows-screenshots: cannot create %s\n", argv[1]);
        return 1;
    }

    bool ok = true;
    StillDispatcher dispatcher;
    for (bool granted : {false, true}) {
        Permissions permissions;
        permissions.granted = granted;
        StillInstaller installer;
        auto controller = OnboardingController::create(
            installer, OnboardingPorts{dispatcher,
                                       permissions,
                                       permissions,
                                       permissions,
                                       {},
                                       {},
                                       {&permissions, nullptr, "/nonexistent"}});
        qt::OnboardingWindow window(controller);
        // As the window manager does on showing it: the permissions are read then.
        controller->viewShown();
        const QString suffix = granted ? QStringLiteral("-granted") : QString();
        struct Shot {
            const char* name;
            InstallPhase::Value phase;
        };
        std::vector<Shot> shots = {
            {"idle", InstallPhase::Idle{}},
            {"manifest", InstallPhase::Manifest{}},
            {"downloading-start", InstallPhase::Downloading{0, 1073741824}},
            {"downloading-early", InstallPhase::Downloading{3 << 20, 1073741824}},
            {"downloading", InstallPhase::Downloading{536870912, 1073741824}},
            {"verifying", InstallPhase::Verifying{}},
            {"extracting", InstallPhase::Extracting{}},
            {"done", InstallPhase::Done{}},
            {"failed", InstallPhase::Failed{"下载中断:无法连接到下载服务器(连接被对方重置)"
                                            "。请检查网络连接或代理设置后点“重试”,"
                                            "已下载的部分会保留,重试时从中断处继续。"}},
        };
        for (auto& shot : shots) {
            // Permission states are shown with the first phase only; the others
            // differ in the install step alone.
            if (granted && std::string(shot.name) != "idle" && std::string(shot.name) != "done")
                continue;
            installer.set(shot.phase);
            ok &= save(window, dir, QStringLiteral("onboarding-%1%2").arg(shot.name, suffix));
        }
        window.hide();
    }

    {
        // A Wayland user whose chosen key reaches nothing yet.
        Permissions permissions;
        permissions.granted = true;
        StillInstaller installer;
        auto controller = OnboardingController::create(
            installer, OnboardingPorts{dispatcher, permissions, permissions, permissions, [] {
                                           return HotkeyStatus{HotkeyKey::rightCtrl, true};
                                       }});
        qt::OnboardingWindow window(controller);
        ok &= save(window, dir, QStringLiteral("onboarding-key-setup"));
    }

    std::function<void()> none = [] {};
    {
        qt::AboutWindow about(aboutModel(std::nullopt, std::nullopt), AboutActions{none, {}});
        ok &= save(about, dir, QStringLiteral("about-no-engine"));
    }
    {
        qt::AboutWindow about(aboutModel(std::string("1.4.2"), std::nullopt),
                              AboutActions{none, {}});
        ok &= save(about, dir, QStringLiteral("about-engine"));
    }
    {
        AboutModel noLogo = aboutModel(std::string("1.4.2"), std::nullopt);
        noLogo.logoCandidates = {"/nonexistent/zavren-logo.png"};
        qt::AboutWindow about(noLogo, AboutActions{none, {}});
        ok &= save(about, dir, QStringLiteral("about-no-logo"));
    }
    {
        qt::PrivacyWindow privacy(privacyModel(), {});
        ok &= save(privacy, dir, QStringLiteral("privacy"));
    }
    return ok ? 0 : 1;
}
