#include "qt/windows/qt_window_factory.h"

#include <QCoreApplication>
#include <QDir>
#include <QPointer>

#include "qt/windows/about_window.h"
#include "qt/windows/onboarding_window.h"
#include "qt/windows/privacy_window.h"

namespace zavren::qt {

namespace {

class QtSetupWindow : public SetupWindow {
  public:
    explicit QtSetupWindow(FixedWidthWindow* window) : window_(window) {
        window_->centreOnScreen();
    }
    ~QtSetupWindow() override {
        // Later, not now: the window may be in the middle of handling one of its events.
        if (window_) {
            window_->hide();
            window_->deleteLater();
        }
    }
    void show() override {
        if (!window_) return;
        window_->show();
        window_->raise();
        window_->activateWindow();
    }
    void hide() override {
        if (window_) window_->hide();
    }

  private:
    QPointer<FixedWidthWindow> window_;
};

}  // namespace

std::unique_ptr<SetupWindow> QtSetupWindowFactory::makeOnboarding(
    std::shared_ptr<OnboardingController> controller) {
    return std::make_unique<QtSetupWindow>(new OnboardingWindow(std::move(controller)));
}

std::unique_ptr<SetupWindow> QtSetupWindowFactory::makeAbout(const AboutModel& model,
                                                             AboutActions actions) {
    return std::make_unique<QtSetupWindow>(new AboutWindow(model, std::move(actions)));
}

std::unique_ptr<SetupWindow> QtSetupWindowFactory::makePrivacy(const PrivacyModel& model,
                                                               std::function<void()> copyPage) {
    return std::make_unique<QtSetupWindow>(new PrivacyWindow(model, std::move(copyPage)));
}

std::optional<std::string> installedResourcesDir() {
    QDir dir(QCoreApplication::applicationDirPath());
    if (!dir.cd(QStringLiteral("../share/zavren"))) return std::nullopt;
    return dir.absolutePath().toStdString();
}

}  // namespace zavren::qt
