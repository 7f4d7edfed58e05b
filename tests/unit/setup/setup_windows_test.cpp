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
    void show() override { events.push_back("show:" + name); }
    void hide() override { events.push_back("hide:" + name); }
    std::string name;
    Events& events;
};

// Makes windows, noting each; keeps what the real windows would get.
struct FakeFactory : SetupWindowFactory {
    explicit FakeFactory(Events& e) : events(e) {}
    std::unique_ptr<SetupWindow> makeOnboarding(std::shared_ptr<OnboardingController> c) override {
        events.push_back("make:onboarding");
        controller = std::move(c);
        return std::make_unique<FakeWindow>("onboarding", events);
    }
    std::unique_ptr<SetupWindow> makeAbout(const AboutModel& m, AboutActions a) override {
        events.push_back("make:about " + m.versionLine.text);
        about = std::move(a);
        return std::make_unique<FakeWindow>("about", events);
    }
    std::unique_ptr<SetupWindow> makePrivacy(const PrivacyModel&,
                                             std::function<void(const std::string&)>) override {
        events.push_back("make:privacy");
        return std::make_unique<FakeWindow>("privacy", events);
    }
    Events& events;
    std::shared_ptr<OnboardingController> controller;
    AboutActions about;
};

struct SetupWindowsTest : ::testing::Test {
    Events events;
    fakes::FakeDispatcher d;
    fakes::FakeMicrophone mic;
    fakes::FakeTrust trust;
    fakes::FakeDesktop desktop;
    FakeFactory factory{events};
    fakes::FakeInstaller installer;
    std::unique_ptr<SetupWindows> windows = std::make_unique<SetupWindows>(
        SetupWindowsPorts{factory, desktop, d, mic, trust, std::nullopt});
    OnboardingModel shown() { return factory.controller->model(); }
};

TEST_F(SetupWindowsTest, FirstRunAndPrivacyAreMadeOnceAboutAnewAndEachShowComesToTheFront) {
    windows->closeOnboarding();  // nothing to close yet
    windows->showOnboarding(installer);
    fakes::FakeInstaller other;
    windows->showOnboarding(other);  // an existing window keeps its installer
    windows->showAbout("1.0");
    windows->showAbout(std::nullopt);
    windows->showPrivacy();
    factory.about.showPrivacy();
    EXPECT_EQ(events, (Events{"make:onboarding", "show:onboarding", "show:onboarding",
                              "make:about " + versionLine("1.0"), "show:about", "hide:about",
                              "make:about " + versionLine(std::nullopt), "release:about",
                              "show:about", "make:privacy", "show:privacy", "show:privacy"}));
    EXPECT_EQ(desktop.activations, 6);
    installer.setPhase(InstallPhase::Done{});
    EXPECT_TRUE(shown().installStep.done);

    auto about = factory.about;
    windows.reset();  // buttons of a released manager do nothing
    factory.controller.reset();
    about.showPrivacy();
    about.openUrl("mailto:x");
    EXPECT_TRUE(desktop.openedUrls.empty());
    EXPECT_EQ(installer.liveObservers(), 0u);
}

TEST_F(SetupWindowsTest, PollingNoticesGrantsWithinASecondOnlyWhileShownAndNeverPrompts) {
    mic.granted = trust.trusted = false;
    windows->showOnboarding(installer);
    trust.trusted = mic.granted = true;
    d.advance(0.99);
    EXPECT_FALSE(shown().permissionsStep.done);
    d.advance(0.01);
    EXPECT_TRUE(shown().permissionsStep.done);
    EXPECT_EQ(trust.prompts, 0);

    windows->closeOnboarding();
    mic.granted = false;
    d.advance(5.0);
    EXPECT_TRUE(shown().permissions[0].granted);  // hidden: not asked
    windows->showOnboarding(installer);
    EXPECT_FALSE(shown().permissions[0].granted);  // re-read at once when shown
}

TEST_F(SetupWindowsTest, ButtonsAskForTheMicrophoneOpenSettingsAndStartTheInstaller) {
    mic.granted = trust.trusted = false;
    windows->showOnboarding(installer);
    mic.granted = true;
    factory.controller->perform(OnboardingAction::requestMicrophone);
    EXPECT_TRUE(shown().permissions[0].granted);
    EXPECT_EQ(mic.requests, 1);

    factory.controller->perform(OnboardingAction::openAccessibility);
    EXPECT_EQ(trust.prompts, 1);
    EXPECT_EQ(desktop.settingsOpened, 1);

    factory.controller->perform(OnboardingAction::startInstall);
    EXPECT_EQ(installer.starts, 1);
}

}  // namespace
}  // namespace zavren
