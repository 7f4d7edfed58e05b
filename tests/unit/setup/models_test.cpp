#include <gtest/gtest.h>

#include "setup/about_model.h"
#include "setup/onboarding_model.h"
#include "setup/privacy_model.h"
#include "zavren/build_config.h"

namespace zavren {
namespace {

// What the install step holds, by kind: the words are checked on screenshots.
std::string kinds(const std::vector<InstallItem>& items) {
    std::string out;
    for (const auto& item : items) {
        if (auto* s = std::get_if<Styled>(&item)) out += s->tone == Tone::orange ? "warn " : "text ";
        if (auto* b = std::get_if<ActionButton>(&item))
            out += b->action == OnboardingAction::startInstall ? "start " : "other ";
        if (std::holds_alternative<Spinner>(item)) out += "spinner ";
        if (std::holds_alternative<SpinnerRow>(item)) out += "spinnerRow ";
        if (std::holds_alternative<ProgressBar>(item)) out += "bar ";
    }
    return out;
}

struct PhaseCase {
    const char* name;
    InstallPhase::Value phase;
    std::string kinds;
    bool done = false;
};
void PrintTo(const PhaseCase& c, std::ostream* os) {
    *os << c.name;
}

class InstallStep : public ::testing::TestWithParam<PhaseCase> {};

TEST_P(InstallStep, ShowsTheItemsOfThePhaseAndIsDoneOnlyWhenDone) {
    auto m = onboardingModel(InstallPhase{GetParam().phase}, true, true, false);
    EXPECT_EQ(kinds(m.install), GetParam().kinds);
    EXPECT_EQ(m.installStep.done, GetParam().done);
    EXPECT_FALSE(m.tryStep.done);
}

INSTANTIATE_TEST_SUITE_P(
    Phases, InstallStep,
    ::testing::Values(PhaseCase{"Idle", InstallPhase::Idle{}, "text start "},
                      PhaseCase{"Manifest", InstallPhase::Manifest{}, "spinner "},
                      PhaseCase{"Downloading", InstallPhase::Downloading{1, 2}, "bar text text "},
                      PhaseCase{"Verifying", InstallPhase::Verifying{}, "spinnerRow "},
                      PhaseCase{"Done", InstallPhase::Done{}, "text ", true},
                      PhaseCase{"Failed", InstallPhase::Failed{"坏了"}, "warn start "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InstallStep, ProgressRoundsToMegabytesAndTheBarStaysWithinItsBounds) {
    auto items = installItems(InstallPhase{InstallPhase::Downloading{1572864, 1073741824}}, false);
    EXPECT_NE(std::get<Styled>(items[1]).text.find(" 2 MB / 1024 MB"), std::string::npos);
    EXPECT_EQ(kinds(installItems(InstallPhase{InstallPhase::Idle{}}, true)), "text warn start ");
    for (auto [value, total, fraction] : {std::tuple{50.0, 100.0, 0.5}, {150.0, 100.0, 1.0},
                                          {10.0, 0.0, 0.0}, {-5.0, 100.0, 0.0}, {5.0, -1.0, 0.0}})
        EXPECT_DOUBLE_EQ((ProgressBar{value, total}.fraction()), fraction) << value << "/" << total;
}

TEST(PermissionStep, DoneWithBothAndAButtonForEachMissingOne) {
    for (auto [mic, ax] : {std::pair{false, false}, {true, false}, {false, true}, {true, true}}) {
        auto m = onboardingModel(InstallPhase{}, mic, ax, false);
        EXPECT_EQ(m.permissionsStep.done, mic && ax);
        EXPECT_EQ(m.permissions.at(0).granted, mic);
        EXPECT_EQ(m.permissions[0].button.has_value(), !mic);
        EXPECT_EQ(m.permissions.at(1).granted, ax);
        EXPECT_EQ(m.permissions[1].button.has_value(), !ax);
    }
    auto m = onboardingModel(InstallPhase{}, false, false, false);
    EXPECT_EQ(m.permissions[0].button->action, OnboardingAction::requestMicrophone);
    EXPECT_EQ(m.permissions[1].button->action, OnboardingAction::openAccessibility);
}

TEST(AboutModel, LogoFromResourcesFirstAndTheEngineVersionInTheVersionLine) {
    const std::string checkout = std::string(ZAVREN_ASSETS_DIR) + "/zavren-logo.png";
    EXPECT_EQ(aboutModel(std::nullopt, std::string("/opt/z")).logoCandidates,
              (std::vector<std::string>{"/opt/z/zavren-logo.png", checkout}));
    EXPECT_EQ(aboutModel(std::nullopt, std::nullopt).logoCandidates,
              std::vector<std::string>{checkout});
    EXPECT_TRUE(versionLine("7.7.7").ends_with(" 7.7.7"));
    EXPECT_EQ(versionLine(std::nullopt).find("7.7.7"), std::string::npos);
}

TEST(PrivacyModel, PageLinkShowsNoSchemeAndAlwaysOpensOverHttps) {
    for (auto [configured, shown] : {std::pair{"https://z.ai/zavren-ai", "z.ai/zavren-ai"},
                                     {"http://e.org/zavren-ai/", "e.org/zavren-ai"},
                                     {"z.ai/zavren-ai", "z.ai/zavren-ai"}}) {
        auto m = privacyModel(configured);
        EXPECT_EQ(m.pageLink.text, shown);
        EXPECT_EQ(m.pageUrl, "https://" + std::string(shown));
    }
    EXPECT_EQ(privacyModel().rows.size(), 5u);
}

}  // namespace
}  // namespace zavren
