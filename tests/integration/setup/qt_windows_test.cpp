#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include "fakes/fake_installer.h"
#include "fakes/fake_platform.h"
#include "qt/windows/qt_window_factory.h"
#include "setup/setup_windows.h"
#include "shared/constants.h"
#include "support/qt_app.h"

namespace zavren {
namespace {

// Null unless exactly one window has that title.
QWidget* onlyWindow(const std::string& title) {
    QWidget* found = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->windowTitle() != QString::fromStdString(title)) continue;
        if (found) return nullptr;
        found = w;
    }
    return found;
}

template <typename T>
T* childWithText(QWidget* window, const QString& text) {
    for (T* c : window->findChildren<T*>())
        if (c->isVisibleTo(window) && c->text().contains(text)) return c;
    return nullptr;
}

// Lets deleteLater() and queued work happen.
void settle() {
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

TEST(QtWindows, FixedFramesNothingClippedCloseOnlyHidesAboutIsReplaced) {
    test::QtApp<QApplication> qt;
    fakes::FakePlatform fake;
    fakes::FakeInstaller installer;
    qt::QtSetupWindowFactory factory;
    SetupWindows windows(
        {factory, fake.desktop, fake.pasteboard, fake.d, fake.mic, fake.trust, std::nullopt});
    windows.showOnboarding(installer);
    QPointer<QWidget> first = onlyWindow(ONBOARDING_TITLE);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->minimumSize(), first->maximumSize()) << "resizable";
    installer.onStart = [&installer] { installer.setPhase(InstallPhase::Manifest{}); };
    for (const auto& phase : std::vector<InstallPhase::Value>{
             InstallPhase::Downloading{1, 2}, InstallPhase::Done{},
             InstallPhase::Failed{std::string(90, 'x') + "<b>无法连接</b>"}}) {
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
    windows.showAbout(std::string("1.0"));
    windows.showAbout(std::string("2.0"));
    settle();
    EXPECT_TRUE(first) << "closing must only hide it";
    QWidget* about = onlyWindow(ABOUT_TITLE);
    ASSERT_NE(about, nullptr) << "the old about window was not released";
    emit childWithText<QLabel>(about, "隐私说明")->linkActivated("#");
    EXPECT_NE(onlyWindow(PRIVACY_TITLE), nullptr);
    emit childWithText<QLabel>(about, QString::fromStdString(CONTACT))->linkActivated("#");
    EXPECT_EQ(fake.pasteboard.contents[PASTEBOARD_TEXT_TYPE], CONTACT);
}

}  // namespace
}  // namespace zavren
