#include <gtest/gtest.h>

#include "setup/about_model.h"
#include "setup/onboarding_model.h"
#include "setup/privacy_model.h"
#include "zavren/build_config.h"

namespace zavren {
namespace {

// What the install step holds, by kind: the words are checked on screenshots.
std::string kinds(const std::vector<InstallItem>& items) {
    static const char* const NAMES[] = {"text ", "button ", "spinner ", "spinnerRow ", "bar "};
    std::string out;
    for (const auto& item : items) {
        auto* s = std::get_if<Styled>(&item);
        auto* b = std::get_if<ActionButton>(&item);
        out += s && s->tone == Tone::orange                       ? "warn "
               : b && b->action == OnboardingAction::startInstall ? "start "
                                                                  : NAMES[item.index()];
    }
    return out;
}

TEST(InstallStep, ShowsTheItemsOfThePhaseAndIsDoneOnlyWhenDone) {
    for (auto [phase, items] : std::vector<std::pair<InstallPhase::Value, std::string>>{
             {InstallPhase::Idle{}, "text start text button button "},
             {InstallPhase::Manifest{}, "spinner "},
             {InstallPhase::Downloading{1, 2}, "bar text text "},
             {InstallPhase::Verifying{}, "spinnerRow "},
             {InstallPhase::Done{}, "text "},
             {InstallPhase::Failed{"坏了"}, "warn start text button button "}}) {
        auto m = onboardingModel(InstallPhase{phase}, true, true);  // this build's notice
        EXPECT_EQ(kinds(m.install), items);
        EXPECT_EQ(m.installStep.done, std::holds_alternative<InstallPhase::Done>(phase)) << items;
        EXPECT_FALSE(m.tryStep.done);
    }
}

TEST(InstallStep, ProgressRoundsToMegabytesTheBarStaysInBoundsAndTheNoticeIsOptional) {
    auto items = installItems(InstallPhase{InstallPhase::Downloading{1572864, 1073741824}}, false);
    EXPECT_NE(std::get<Styled>(items[1]).text.find(" 2 MB / 1024 MB"), std::string::npos);
    EXPECT_EQ(kinds(installItems(InstallPhase{InstallPhase::Idle{}}, true)),
              "text warn start text button button ");
    for (auto [value, total, fraction] :
         {std::tuple{50.0, 100.0, 0.5}, {150.0, 100.0, 1.0}, {10.0, 0.0, 0.0}, {-5.0, 100.0, 0.0}})
        EXPECT_DOUBLE_EQ((ProgressBar{value, total}.fraction()), fraction) << value << "/" << total;
}

TEST(PermissionStep, DoneWithBothAndAButtonForEachMissingOne) {
    for (auto [mic, ax] : {std::pair{false, false}, {true, false}, {false, true}, {true, true}}) {
        auto m = onboardingModel(InstallPhase{}, mic, ax, false);
        EXPECT_EQ(m.permissionsStep.done, mic && ax);
        EXPECT_EQ(m.permissions.at(0).button.has_value(), !mic);
        EXPECT_EQ(m.permissions.at(1).button.has_value(), !ax);
    }
    auto b = onboardingModel(InstallPhase{}, false, false, false).permissions;
    EXPECT_EQ(std::pair(b[0].button->action, b[1].button->action),
              std::pair(OnboardingAction::requestMicrophone, OnboardingAction::openAccessibility));
}

// The chosen key in the platform's words wherever the window names it; no Mac word
// on Linux.
TEST(FirstRun, NamesTheChosenKeyInThePlatformsWords) {
    for (HotkeyKey key : HOTKEY_KEYS) {
        for (const Wording* w : {&linuxWording(), &macWording()}) {
            auto m = onboardingModel(InstallPhase{}, false, false, false, {key, false}, *w);
            const std::string all = m.intro.text + m.permissionsStep.title.text +
                                    m.permissions[1].label.text + m.tryStep.title.text +
                                    m.tryText.text + w->pasteByHandHint();
            for (const std::string& named :
                 {w->hold(key) + " 说话", w->hold(key) + ",说一句", w->hold(key, true) + " 说「"})
                EXPECT_NE(all.find(named), std::string::npos) << named;
            for (const char* mac : {"⌥", "⌘", "Option", "辅助功能"})
                EXPECT_TRUE(w != &linuxWording() || all.find(mac) == std::string::npos) << mac;
        }
    }
}

// The sizes that set each window's hierarchy; the rest is checked on screenshots.
TEST(AboutAndPrivacy, TheWindowsKeepTheirTypeSizes) {
    const auto about = aboutModel(std::nullopt, std::nullopt);
    const auto privacy = privacyModel();
    const auto first = onboardingModel(InstallPhase{}, true, true, false);
    const std::pair<Styled, int> cases[] = {
        {about.name, 22},
        {about.suffix, 14},
        {about.copyright, 11},
        {about.versionLine, 11},
        {first.name, 24},
        {first.suffix, 15},
        {first.tryText, 12},
        {first.intro, 13},
        {first.permissionsNote, 11},
        {privacy.rows.at(0).label, 13},
        {privacy.rows.at(0).statement, 12},
    };
    for (const auto& [styled, size] : cases) EXPECT_EQ(styled.size, size) << styled.text;
}

TEST(AboutAndPrivacy, LogoFromResourcesFirstAndThePageOverHttps) {
    const std::string checkout = std::string(ZAVREN_ASSETS_DIR) + "/zavren-logo.png";
    EXPECT_EQ(aboutModel(std::nullopt, std::string("/opt/z")).logoCandidates,
              (std::vector<std::string>{"/opt/z/zavren-logo.png", checkout}));
    EXPECT_EQ(privacyModel("http://e.org/zavren-ai/").pageUrl, "https://e.org/zavren-ai");
}

}  // namespace
}  // namespace zavren
