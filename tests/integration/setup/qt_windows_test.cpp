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

std::vector<QWidget*> windowsTitled(const std::string& title) {
    std::vector<QWidget*> found;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->windowTitle() == q(title)) found.push_back(w);
    }
    return found;
}

QWidget* onlyWindow(const std::string& title) {
    auto found = windowsTitled(title);
    return found.size() == 1 ? found.front() : nullptr;
}

QLabel* labelWithText(QWidget* window, const QString& text) {
    for (QLabel* l : window->findChildren<QLabel*>()) {
        if (l->isVisibleTo(window) && l->text().contains(text)) return l;
    }
    return nullptr;
}

QPushButton* buttonTitled(QWidget* window, const QString& title) {
    for (QPushButton* b : window->findChildren<QPushButton*>()) {
        if (b->isVisibleTo(window) && b->text() == title) return b;
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
        static char name[] = "itest_windows";
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

void expectFixedWindow(QWidget* w, int width) {
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->width(), width);
    EXPECT_EQ(w->minimumSize(), w->maximumSize()) << "resizable";
    Qt::WindowFlags f = w->windowFlags();
    EXPECT_TRUE(f & Qt::WindowTitleHint);
    EXPECT_TRUE(f & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(f & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(f & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(w->testAttribute(Qt::WA_DeleteOnClose));
}

TEST_F(QtWindowsTest, TitlesWidthsAndFixedFrames) {
    windows->showOnboarding(installer);
    windows->showAbout(std::nullopt);
    windows->showPrivacy();
    settle();
    expectFixedWindow(onlyWindow("欢迎使用 ZAVREN.AI"), 440);
    expectFixedWindow(onlyWindow("关于 ZAVREN.AI"), 300);
    expectFixedWindow(onlyWindow("隐私说明"), 440);
    for (auto* title : {"欢迎使用 ZAVREN.AI", "关于 ZAVREN.AI", "隐私说明"}) {
        EXPECT_TRUE(onlyWindow(title)->isVisible()) << title;
    }
}

TEST_F(QtWindowsTest, OneFirstRunWindowHoweverOftenShownAndCloseOnlyHides) {
    windows->showOnboarding(installer);
    QPointer<QWidget> first = onlyWindow(ONBOARDING_TITLE);
    ASSERT_TRUE(first);
    const QPoint placed = first->pos();
    first->move(placed + QPoint(30, 20));  // the user moves it; it is not centred again

    windows->showOnboarding(installer);
    first->close();
    settle();
    EXPECT_TRUE(first);
    EXPECT_FALSE(first->isVisible());
    EXPECT_FALSE(windows->onboardingController()->polling());

    windows->showOnboarding(installer);
    settle();
    EXPECT_EQ(windowsTitled(ONBOARDING_TITLE).size(), 1u);
    EXPECT_EQ(onlyWindow(ONBOARDING_TITLE), first.data());
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->pos(), placed + QPoint(30, 20));
}

TEST_F(QtWindowsTest, CentredOnTheScreenWhenMade) {
    windows->showPrivacy();
    QWidget* w = onlyWindow(PRIVACY_TITLE);
    ASSERT_NE(w, nullptr);
    QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    // Placed before the frame is known, so the frame's few pixels may tip it.
    QPoint off = w->frameGeometry().center() - centre;
    EXPECT_LE(std::abs(off.x()), 4);
    EXPECT_LE(std::abs(off.y()), 4);
}

TEST_F(QtWindowsTest, PhaseChangesReRenderAndTheHeightFollowsTheContent) {
    windows->showOnboarding(installer);
    QWidget* w = onlyWindow(ONBOARDING_TITLE);
    ASSERT_NE(w, nullptr);
    EXPECT_NE(buttonTitled(w, "开始下载"), nullptr);

    installer.setPhase(InstallPhase::Manifest{});
    settle();
    const int manifestHeight = w->height();
    EXPECT_EQ(buttonTitled(w, "开始下载"), nullptr);

    installer.setPhase(InstallPhase::Downloading{536870912, 1073741824});
    settle();
    EXPECT_NE(labelWithText(w, "已下载 512 MB / 1024 MB · 中断可续传"), nullptr);
    auto bars = w->findChildren<QProgressBar*>();
    ASSERT_EQ(bars.size(), 1);
    EXPECT_EQ(bars[0]->value(), (bars[0]->maximum() - bars[0]->minimum()) / 2);
    EXPECT_GT(w->height(), manifestHeight);

    installer.setPhase(InstallPhase::Done{});
    settle();
    EXPECT_NE(labelWithText(w, "引擎就位。从现在起,识别全程本地。"), nullptr);
    EXPECT_TRUE(w->findChildren<QProgressBar*>().isEmpty());
}

TEST_F(QtWindowsTest, WrappedTextIsNeverClippedInAnyPhase) {
    windows->showOnboarding(installer);
    windows->showPrivacy();
    QWidget* onboarding = onlyWindow(ONBOARDING_TITLE);
    QWidget* privacy = onlyWindow(PRIVACY_TITLE);
    ASSERT_NE(onboarding, nullptr);
    std::vector<InstallPhase::Value> phases = {
        InstallPhase::Idle{},
        InstallPhase::Manifest{},
        InstallPhase::Downloading{1, 2},
        InstallPhase::Verifying{},
        InstallPhase::Extracting{},
        InstallPhase::Done{},
        InstallPhase::Failed{std::string(40, 'x') +
                             "无法连接到下载服务器,请检查网络连接或代理设置后重试。"
                             "已下载的部分会保留,重试时从中断处继续。"}};
    for (const auto& phase : phases) {
        installer.setPhase(phase);
        settle();
        for (QWidget* w : {onboarding, privacy}) {
            for (QLabel* l : w->findChildren<QLabel*>()) {
                if (!l->isVisibleTo(w)) continue;
                EXPECT_GE(l->height(), l->heightForWidth(l->width()) > 0
                                           ? l->heightForWidth(l->width())
                                           : l->sizeHint().height())
                    << l->text().toStdString();
                EXPECT_LE(l->mapTo(w, QPoint(l->width(), l->height())).y(), w->height())
                    << l->text().toStdString();
                EXPECT_LE(l->mapTo(w, QPoint(l->width(), 0)).x(), w->width())
                    << l->text().toStdString();
            }
        }
    }
}

TEST_F(QtWindowsTest, FailedShowsTheMessageVerbatimAndRetryStartsAgain) {
    installer.onStart = [this] { installer.setPhase(InstallPhase::Manifest{}); };
    installer.setPhase(InstallPhase::Failed{"<b>校验失败</b>"});
    windows->showOnboarding(installer);
    QWidget* w = onlyWindow(ONBOARDING_TITLE);
    QLabel* message = labelWithText(w, "<b>校验失败</b>");
    ASSERT_NE(message, nullptr) << "shown as markup instead of text";
    EXPECT_EQ(message->textFormat(), Qt::PlainText);

    QPushButton* retry = buttonTitled(w, "重试");
    ASSERT_NE(retry, nullptr);
    retry->click();  // re-renders from inside the button's own signal
    settle();
    EXPECT_EQ(installer.starts, 1);
    EXPECT_EQ(buttonTitled(w, "重试"), nullptr);
}

TEST_F(QtWindowsTest, PermissionButtonsDisappearWhenThePollSeesTheGrant) {
    trust.trusted = false;
    windows->showOnboarding(installer);
    QWidget* w = onlyWindow(ONBOARDING_TITLE);
    QPushButton* open = buttonTitled(w, "打开设置");
    ASSERT_NE(open, nullptr);
    open->click();
    EXPECT_EQ(desktop.settingsOpened, 1);
    trust.trusted = true;
    dispatcher.advance(1.0);
    settle();
    EXPECT_EQ(buttonTitled(w, "打开设置"), nullptr);
    EXPECT_EQ(buttonTitled(w, "去授权"), nullptr);
}

TEST_F(QtWindowsTest, AboutIsRebuiltWithTheNewVersionAndOpensPrivacy) {
    windows->showAbout(std::string("1.0"));
    settle();
    ASSERT_NE(onlyWindow(ABOUT_TITLE), nullptr);
    EXPECT_NE(labelWithText(onlyWindow(ABOUT_TITLE), "v0.12.0 · 引擎 1.0"), nullptr);

    onlyWindow(ABOUT_TITLE)->close();
    windows->showAbout(std::string("2.0"));
    settle();
    QWidget* about = onlyWindow(ABOUT_TITLE);
    ASSERT_NE(about, nullptr) << "the old about window was not released";
    EXPECT_TRUE(about->isVisible());
    EXPECT_NE(labelWithText(about, "v0.12.0 · 引擎 2.0"), nullptr);

    QLabel* privacyLink = labelWithText(about, "隐私说明:你的声音,不出这台电脑");
    ASSERT_NE(privacyLink, nullptr);
    emit privacyLink->linkActivated("zavren:privacy");
    emit privacyLink->linkActivated("zavren:privacy");
    settle();
    EXPECT_EQ(windowsTitled(PRIVACY_TITLE).size(), 1u);
    EXPECT_TRUE(onlyWindow(PRIVACY_TITLE)->isVisible());

    QLabel* mail = labelWithText(about, q(CONTACT));
    ASSERT_NE(mail, nullptr);
    emit mail->linkActivated(q("mailto:" + CONTACT));
    EXPECT_EQ(desktop.openedUrls, std::vector<std::string>{"mailto:" + CONTACT});
}

TEST_F(QtWindowsTest, AboutWithoutALogoStartsWithTheName) {
    AboutModel withLogo = aboutModel(std::nullopt, std::nullopt);
    withLogo.logoCandidates = {"/nonexistent/zavren-logo.png",
                               std::string(ZAVREN_SOURCE_DIR) + "/assets/zavren-logo.png"};
    qt::AboutWindow shown(withLogo, AboutActions{});
    EXPECT_TRUE(shown.hasLogo());
    auto* logo = shown.findChild<QLabel*>("logo");
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(qRound(logo->pixmap().deviceIndependentSize().width()), 150);

    AboutModel without = withLogo;
    without.logoCandidates = {"/nonexistent/zavren-logo.png"};
    qt::AboutWindow bare(without, AboutActions{});
    EXPECT_FALSE(bare.hasLogo());
    EXPECT_EQ(bare.findChild<QLabel*>("logo"), nullptr);
    EXPECT_EQ(bare.width(), 300);
    EXPECT_LT(bare.height(), shown.height());
}

TEST_F(QtWindowsTest, PrivacyLinkOpensTheProductPageOverHttps) {
    windows->showPrivacy();
    QWidget* w = onlyWindow(PRIVACY_TITLE);
    PrivacyModel m = privacyModel();
    QLabel* link = labelWithText(w, q(m.pageLink.text));
    ASSERT_NE(link, nullptr);
    EXPECT_FALSE(link->openExternalLinks());
    emit link->linkActivated(q(m.pageUrl));
    ASSERT_EQ(desktop.openedUrls.size(), 1u);
    EXPECT_EQ(desktop.openedUrls[0].rfind("https://", 0), 0u);
}

}  // namespace
}  // namespace zavren
