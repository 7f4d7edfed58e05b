#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "fakes/fake_dispatcher.h"
#include "fakes/fake_installer.h"
#include "fakes/fake_ports.h"
#include "qt/windows/about_window.h"
#include "qt/windows/qt_window_factory.h"
#include "setup/setup_windows.h"
#include "shared/constants.h"

namespace zavren {
namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

QWidget* onlyWindow(const std::string& title) {
    QWidget* found = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->windowTitle() != q(title)) continue;
        if (found) return nullptr;
        found = w;
    }
    return found;
}

template <typename T>
T* childWithText(QWidget* window, const QString& text) {
    for (T* c : window->findChildren<T*>()) {
        if (c->isVisibleTo(window) && c->text().contains(text)) return c;
    }
    return nullptr;
}

// Lets deleteLater() and queued work happen.
void settle() {
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

class QtWindowsTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "itest_setup";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance()) new QApplication(argc, argv);
    }
    void TearDown() override {
        windows.reset();
        settle();
    }

    fakes::FakeDispatcher dispatcher;
    fakes::FakeMicrophone microphone;
    fakes::FakeTrust trust;
    fakes::FakeDesktop desktop;
    fakes::FakeInstaller installer;
    qt::QtSetupWindowFactory factory;
    std::unique_ptr<SetupWindows> windows = std::make_unique<SetupWindows>(
        SetupWindowsPorts{factory, desktop, dispatcher, microphone, trust, std::nullopt});
};

TEST_F(QtWindowsTest, FixedFramesThatOnlyHideWhenClosedAndTextThatIsNeverClipped) {
    windows->showOnboarding(installer);
    windows->showPrivacy();
    QPointer<QWidget> first = onlyWindow(ONBOARDING_TITLE);
    ASSERT_TRUE(first);
    for (QWidget* w : {first.data(), onlyWindow(PRIVACY_TITLE)}) {
        EXPECT_EQ(w->minimumSize(), w->maximumSize()) << "resizable";
        EXPECT_FALSE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    }
    installer.onStart = [this] { installer.setPhase(InstallPhase::Manifest{}); };
    for (const auto& phase : std::vector<InstallPhase::Value>{
             InstallPhase::Downloading{1, 2}, InstallPhase::Done{},
             InstallPhase::Failed{
                 std::string(40, 'x') +
                 "<b>无法连接到下载服务器,请检查网络连接或代理设置后重试。</b>"}}) {
        installer.setPhase(phase);
        settle();
        for (QLabel* l : first->findChildren<QLabel*>()) {
            if (!l->isVisibleTo(first)) continue;
            const int need = l->hasHeightForWidth() ? l->heightForWidth(l->width()) : 0;
            EXPECT_GE(l->height(), need) << l->text().toStdString();
            EXPECT_LE(l->mapTo(first, QPoint(l->width(), l->height())).y(), first->height());
        }
    }
    EXPECT_EQ(childWithText<QLabel>(first, "<b>")->textFormat(), Qt::PlainText);
    childWithText<QPushButton>(first, "重试")->click();  // re-renders inside its own signal
    settle();
    EXPECT_EQ(installer.starts, 1);

    first->close();
    windows->showOnboarding(installer);
    settle();
    EXPECT_EQ(onlyWindow(ONBOARDING_TITLE), first.data());
    EXPECT_TRUE(first->isVisible());
}

TEST_F(QtWindowsTest, AboutIsReplacedWithTheNewVersionAndOpensThePrivacyWindow) {
    windows->showAbout(std::string("1.0"));
    onlyWindow(ABOUT_TITLE)->close();
    windows->showAbout(std::string("2.0"));
    settle();
    QWidget* about = onlyWindow(ABOUT_TITLE);
    ASSERT_NE(about, nullptr) << "the old about window was not released";
    EXPECT_NE(childWithText<QLabel>(about, q(versionLine("2.0"))), nullptr);
    for (int i = 0; i < 2; ++i)
        emit childWithText<QLabel>(about, "隐私说明")->linkActivated("zavren:privacy");
    settle();
    ASSERT_NE(onlyWindow(PRIVACY_TITLE), nullptr);
    EXPECT_TRUE(onlyWindow(PRIVACY_TITLE)->isVisible());
}

}  // namespace
}  // namespace zavren
