#include <gtest/gtest.h>

#include "fakes/fake_dispatcher.h"
#include "fakes/fake_installer.h"
#include "fakes/fake_ports.h"
#include "setup/setup_windows.h"

namespace zavren {
namespace {

using Events = std::vector<std::string>;

struct FakeWindow : SetupWindow {
    FakeWindow(std::string n, Events& e) : name(std::move(n)), events(e) {}
    ~FakeWindow() override { events.push_back("release:" + name); }
    void show() override {
        visible = true;
        events.push_back("show:" + name);
    }
    void hide() override {
        visible = false;
        events.push_back("hide:" + name);
    }
    std::string name;
    Events& events;
    bool visible = false;
};

// Renders the controller's model after every change, as the real window does.
struct FakeOnboardingWindow : FakeWindow {
    FakeOnboardingWindow(std::shared_ptr<OnboardingController> c, Events& e)
        : FakeWindow("onboarding", e), controller(std::move(c)) {
        render();
        subscription = controller->subscribe([this] { render(); });
    }
    void render() {
        ++renders;
        model = controller->model();
    }
    // The user's close button.
    void userClose() {
        hide();
        controller->viewHidden();
    }
    std::shared_ptr<OnboardingController> controller;
    OnboardingController::Subscription subscription;
    OnboardingModel model;
    int renders = 0;
};

struct FakeFactory : SetupWindowFactory {
    explicit FakeFactory(Events& e) : events(e) {}
    std::unique_ptr<SetupWindow> makeOnboarding(
        std::shared_ptr<OnboardingController> controller) override {
        events.push_back("make:onboarding");
        auto w = std::make_unique<FakeOnboardingWindow>(std::move(controller), events);
        onboarding = w.get();
        return w;
    }
    std::unique_ptr<SetupWindow> makeAbout(const AboutModel& model, AboutActions actions) override {
        events.push_back("make:about " + model.versionLine.text);
        aboutModel = model;
        aboutActions = std::move(actions);
        return std::make_unique<FakeWindow>("about", events);
    }
    std::unique_ptr<SetupWindow> makePrivacy(
        const PrivacyModel& model, std::function<void(const std::string&)> open) override {
        events.push_back("make:privacy");
        privacyModel = model;
        openPrivacyLink = std::move(open);
        return std::make_unique<FakeWindow>("privacy", events);
    }
    Events& events;
    FakeOnboardingWindow* onboarding = nullptr;
    AboutModel aboutModel;
    AboutActions aboutActions;
    PrivacyModel privacyModel;
    std::function<void(const std::string&)> openPrivacyLink;
};

struct RecordingDesktop : fakes::FakeDesktop {
    explicit RecordingDesktop(Events& e) : events(e) {}
    void activate() override {
        FakeDesktop::activate();
        events.push_back("activate");
    }
    Events& events;
};

class SetupWindowsTest : public testing::Test {
  protected:
    Events events;
    fakes::FakeDispatcher dispatcher;
    fakes::FakeMicrophone microphone;
    fakes::FakeTrust trust;
    RecordingDesktop desktop{events};
    FakeFactory factory{events};
    fakes::FakeInstaller installer;
    std::unique_ptr<SetupWindows> windows = std::make_unique<SetupWindows>(
        SetupWindowsPorts{factory, desktop, dispatcher, microphone, trust, std::nullopt});

    OnboardingModel shown() { return factory.onboarding->model; }
};

TEST_F(SetupWindowsTest, OnboardingIsMadeOnceAndBroughtToFrontOnEveryShow) {
    windows->closeOnboarding();  // before any show: nothing to close
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(windows->onboardingController(), nullptr);
    windows->showOnboarding(installer);
    windows->showOnboarding(installer);
    EXPECT_EQ(events, (Events{"make:onboarding", "activate", "show:onboarding", "activate",
                              "show:onboarding"}));
}

TEST_F(SetupWindowsTest, ReopenedOnboardingIsTheSameWindowRenderingEveryPhaseChange) {
    windows->showOnboarding(installer);
    auto* first = factory.onboarding;
    const int renders = first->renders;
    installer.setPhase(InstallPhase::Downloading{536870912, 1073741824});
    EXPECT_EQ(first->renders, renders + 1);
    installer.setPhase(InstallPhase::Done{});
    windows->closeOnboarding();
    EXPECT_FALSE(first->visible);

    fakes::FakeInstaller other;
    windows->showOnboarding(other);  // an existing window keeps its installer
    EXPECT_EQ(factory.onboarding, first);
    EXPECT_TRUE(first->visible);
    EXPECT_TRUE(shown().installStep.done);
}

TEST_F(SetupWindowsTest, AboutIsRebuiltOnEveryShowWithTheVersionOfThatMoment) {
    windows->showAbout("1.0");
    windows->showAbout("2.0");
    EXPECT_EQ(events,
              (Events{"make:about v0.12.0 · 引擎 1.0", "activate", "show:about", "hide:about",
                      "make:about v0.12.0 · 引擎 2.0", "release:about", "activate", "show:about"}));
    windows->showAbout(std::nullopt);
    EXPECT_EQ(factory.aboutModel.versionLine.text, "v0.12.0 · 引擎未安装");
}

TEST_F(SetupWindowsTest, PrivacyShownAgainFromMenuOrAboutIsTheSameWindow) {
    windows->showPrivacy();
    windows->showPrivacy();
    EXPECT_EQ(events,
              (Events{"make:privacy", "activate", "show:privacy", "activate", "show:privacy"}));
    factory.openPrivacyLink(factory.privacyModel.pageUrl);
    EXPECT_EQ(desktop.openedUrls, std::vector<std::string>{factory.privacyModel.pageUrl});

    windows->showAbout(std::nullopt);
    factory.aboutActions.showPrivacy();
    EXPECT_EQ(std::count(events.begin(), events.end(), "make:privacy"), 1);
    EXPECT_EQ(events.back(), "show:privacy");
    factory.aboutActions.openUrl(factory.aboutModel.contactUrl);
    EXPECT_EQ(desktop.openedUrls.back(), factory.aboutModel.contactUrl);
}

TEST_F(SetupWindowsTest, ButtonsOfAReleasedManagerDoNothing) {
    windows->showAbout(std::nullopt);
    auto actions = factory.aboutActions;
    windows.reset();
    events.clear();
    actions.showPrivacy();
    actions.openUrl("mailto:x");
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(desktop.openedUrls.empty());
}

TEST_F(SetupWindowsTest, PollNoticesPermissionsGrantedElsewhereWithinOneSecond) {
    trust.trusted = false;
    windows->showOnboarding(installer);
    EXPECT_FALSE(shown().permissionsStep.done);
    ASSERT_TRUE(shown().permissions[1].button.has_value());

    trust.trusted = true;
    dispatcher.advance(0.99);
    EXPECT_FALSE(shown().permissions[1].granted);
    dispatcher.advance(0.01);
    EXPECT_TRUE(shown().permissions[1].granted);
    EXPECT_FALSE(shown().permissions[1].button.has_value());
    EXPECT_TRUE(shown().permissionsStep.done);
    EXPECT_EQ(trust.prompts, 0);  // polling never prompts
}

TEST_F(SetupWindowsTest, HiddenWindowDoesNotPollAndRereadsWhenShownAgain) {
    microphone.granted = false;
    windows->showOnboarding(installer);
    factory.onboarding->userClose();
    EXPECT_FALSE(windows->onboardingController()->polling());
    microphone.granted = true;
    dispatcher.advance(5.0);
    EXPECT_FALSE(shown().permissions[0].granted);
    windows->showOnboarding(installer);
    EXPECT_TRUE(shown().permissions[0].granted);
    EXPECT_TRUE(windows->onboardingController()->polling());
    windows->closeOnboarding();
    EXPECT_FALSE(windows->onboardingController()->polling());
}

TEST_F(SetupWindowsTest, MicrophoneButtonTakesTheAnswerOnTheMainQueue) {
    microphone.granted = false;
    windows->showOnboarding(installer);
    auto controller = windows->onboardingController();

    controller->perform(OnboardingAction::requestMicrophone);  // denied in the dialog
    dispatcher.runUntilIdle();
    EXPECT_EQ(microphone.requests, 1);
    EXPECT_FALSE(shown().permissions[0].granted);
    EXPECT_TRUE(shown().permissions[0].button.has_value());

    microphone.granted = true;
    controller->perform(OnboardingAction::requestMicrophone);
    EXPECT_FALSE(controller->micOK());  // the answer is posted, not applied in the call
    dispatcher.runUntilIdle();
    EXPECT_TRUE(shown().permissions[0].granted);
}

TEST_F(SetupWindowsTest, AccessibilityButtonPromptsAndOpensSettingsButWaitsForThePoll) {
    trust.trusted = false;
    windows->showOnboarding(installer);
    auto controller = windows->onboardingController();
    trust.trusted = true;
    controller->perform(OnboardingAction::openAccessibility);
    EXPECT_EQ(trust.prompts, 1);
    EXPECT_EQ(desktop.settingsOpened, 1);
    EXPECT_FALSE(controller->axOK());
    dispatcher.advance(1.0);
    EXPECT_TRUE(controller->axOK());
}

TEST_F(SetupWindowsTest, DownloadAndRetryButtonsStartTheInstaller) {
    installer.onStart = [this] { installer.setPhase(InstallPhase::Manifest{}); };
    windows->showOnboarding(installer);
    auto pressButtonOfInstallStep = [&] {
        for (const auto& item : shown().install) {
            if (auto* b = std::get_if<ActionButton>(&item)) {
                windows->onboardingController()->perform(b->action);
                return b->title;
            }
        }
        return std::string();
    };
    EXPECT_EQ(pressButtonOfInstallStep(), "开始下载");
    EXPECT_EQ(shown().install, std::vector<InstallItem>{Spinner{}});
    installer.setPhase(InstallPhase::Failed{"校验失败"});
    EXPECT_EQ(pressButtonOfInstallStep(), "重试");
    EXPECT_EQ(installer.starts, 2);
    EXPECT_EQ(shown().install, std::vector<InstallItem>{Spinner{}});
}

TEST_F(SetupWindowsTest, InstallerOutlivingTheWindowsIsSafe) {
    windows->showOnboarding(installer);
    windows.reset();
    EXPECT_EQ(installer.liveObservers(), 0u);
    installer.setPhase(InstallPhase::Done{});
    dispatcher.advance(3.0);
}

}  // namespace
}  // namespace zavren
