#include <gtest/gtest.h>

#include "fakes/fake_dispatcher.h"
#include "fakes/fake_installer.h"
#include "fakes/fake_ports.h"
#include "fakes/fake_setup_windows.h"
#include "setup/setup_windows.h"

namespace zavren {
namespace {

using fakes::FakeFactory;
using Events = fakes::WindowEvents;

struct SetupWindowsTest : ::testing::Test {
    fakes::FakeDispatcher d;
    fakes::FakeMicrophone mic;
    fakes::FakeTrust trust;
    fakes::FakeDesktop desktop;
    fakes::FakePasteboard pasteboard;
    FakeFactory factory;
    fakes::FakeInstaller installer;
    HotkeyStatus hotkey;
    std::unique_ptr<SetupWindows> windows = std::make_unique<SetupWindows>(SetupWindowsPorts{
        factory, desktop, pasteboard, d, mic, trust, std::nullopt, [this] { return hotkey; }});
    OnboardingModel shown() { return factory.controller->model(); }
};

TEST_F(SetupWindowsTest, FirstRunAndPrivacyAreMadeOnceAboutAnewAndEachShowComesToTheFront) {
    windows->showOnboarding(installer);
    fakes::FakeInstaller other;
    windows->showOnboarding(other);  // an existing window keeps its installer
    windows->showAbout("1.0");
    windows->showAbout(std::nullopt);
    windows->showPrivacy();
    factory.about.showPrivacy();
    EXPECT_EQ(factory.events,
              (Events{"make:onboarding", "show:onboarding", "show:onboarding",
                      "make:about " + versionLine("1.0"), "show:about", "hide:about",
                      "make:about " + versionLine(std::nullopt), "release:about", "show:about",
                      "make:privacy", "show:privacy", "show:privacy"}));
    EXPECT_EQ(desktop.activations, 6);
    installer.setPhase(InstallPhase::Done{});
    EXPECT_TRUE(shown().installStep.done);
    windows.reset();
    factory.controller.reset();
    EXPECT_EQ(installer.liveObservers(), 0);
}

// The links copy their address, never open it, and do nothing once the windows are gone.
TEST_F(SetupWindowsTest, TheLinksCopyTheirAddress) {
    windows->showAbout(std::nullopt);
    windows->showPrivacy();
    factory.about.copyContact();
    EXPECT_EQ(desktop.alerts.back().message, "邮箱地址已复制到剪贴板");
    factory.copyPage();
    const std::string page = privacyModel().pageUrl;
    EXPECT_EQ(desktop.alerts.back().informative, page + "\n\n" + PASTE_IN_BROWSER);
    windows.reset();
    factory.about.copyContact();
    EXPECT_EQ(pasteboard.contents.at(PASTEBOARD_TEXT_TYPE), page);
    EXPECT_EQ(desktop.alerts.size(), 2u);
}

TEST_F(SetupWindowsTest, PollingNoticesGrantsOnlyWhileShownAndTheButtonsDoTheirJob) {
    mic.granted = trust.trusted = false;
    windows->showOnboarding(installer);
    trust.trusted = true;
    hotkey.key = HotkeyKey::rightCtrl;  // chosen in the menu meanwhile
    d.advance(1.0);
    EXPECT_TRUE(shown().permissions[1].granted);
    EXPECT_EQ(shown().tryStep.title.text,
              platformWording().hold(HotkeyKey::rightCtrl) + ",说一句试试");

    mic.granted = true;
    factory.controller->perform(OnboardingAction::requestMicrophone);
    EXPECT_TRUE(shown().permissionsStep.done);
    windows->closeOnboarding();
    EXPECT_FALSE(factory.controller->polling());
    mic.granted = false;
    windows->showOnboarding(installer);
    EXPECT_FALSE(shown().permissions[0].granted);  // re-read at once when shown

    factory.controller->perform(OnboardingAction::openAccessibility);
    factory.controller->perform(OnboardingAction::startInstall);
    // Linux has no settings page for it: what the paste needs is explained instead.
    EXPECT_EQ(trust.prompts + desktop.settingsOpened + desktop.alerts.size() + installer.starts,
              3u);  // polling never prompts
    EXPECT_EQ(desktop.alerts.at(0).informative, linuxWording().pasteAccessHelp);
}

}  // namespace
}  // namespace zavren
