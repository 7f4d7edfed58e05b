#include "app/menu_model.h"

#include <gtest/gtest.h>

#include "app/status_icon.h"

namespace zavren {
namespace {

// The menu as the user meets it: "H" header, "-" separator, then each row by what it
// does, "~" in front when it cannot be chosen, "[x]"/"[ ]" for a check mark.
std::string shape(const std::vector<MenuRow>& rows) {
    static const char* const NAMES[] = {"none",    "install",   "retry", "ax",    "about",
                                        "privacy", "check",     "auto",  "terms", "itn",
                                        "reload",  "reinstall", "quit"};
    std::string out;
    for (const auto& r : rows) {
        if (!out.empty()) out += ' ';
        if (r.kind == MenuItem::Kind::header) out += 'H';
        if (r.kind == MenuItem::Kind::separator) out += '-';
        if (r.kind != MenuItem::Kind::action) continue;
        if (!r.enabled) out += '~';
        out += NAMES[static_cast<int>(r.action)];
        if (r.checked) out += *r.checked ? "[x]" : "[ ]";
        if (!r.keyEquivalent.empty()) out += "^" + r.keyEquivalent;
    }
    return out;
}

struct MenuCase {
    const char* name;
    MenuInputs in;
    std::string shape;
};

void PrintTo(const MenuCase& c, std::ostream* os) {
    *os << c.name;
}

class MenuModelTest : public ::testing::TestWithParam<MenuCase> {};

TEST_P(MenuModelTest, RowsForTheStateOfTheMoment) {
    EXPECT_EQ(shape(menuModel(GetParam().in)), GetParam().shape);
}

const std::string TAIL = " - about privacy check";
INSTANTIATE_TEST_SUITE_P(
    States, MenuModelTest,
    ::testing::Values(
        MenuCase{"NoEngine",
                 {false, EngineState::starting, true, true, true, EngineKind::python},
                 "H install" + TAIL + " auto[x] terms itn[x] reinstall - quit^q"},
        MenuCase{"StartingUntrusted",
                 {true, EngineState::starting, false, false, false, EngineKind::python},
                 "H ~none ax" + TAIL + " auto[ ] terms itn[ ] reinstall - quit^q"},
        MenuCase{"ReadyPython",
                 {true, EngineState::ready, true, true, true, EngineKind::python},
                 "H ~none" + TAIL + " auto[x] terms itn[x] reload reinstall - quit^q"},
        MenuCase{"ReadyLlama",
                 {true, EngineState::ready, true, true, true, EngineKind::llama},
                 "H ~none" + TAIL + " auto[x] terms itn[x] reinstall - quit^q"},
        MenuCase{"Failed",
                 {true, EngineState::failed, true, true, true, EngineKind::python},
                 "H retry" + TAIL + " auto[x] terms itn[x] reinstall - quit^q"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MenuModel, StartingAndReadyReadDifferently) {
    MenuInputs in{true, EngineState::starting, true, true, true, EngineKind::python};
    const std::string starting = menuModel(in)[1].title;
    in.engine = EngineState::ready;
    EXPECT_NE(menuModel(in)[1].title, starting);
}

TEST(StatusIcon, RedWhileRecordingElseOrangeOnFailureAndOnlyBlackFollowsTheTheme) {
    using T = StatusIcon::Tint;
    for (auto [engine, recording, tint] : {std::tuple{EngineState::ready, false, T::black},
                                           {EngineState::failed, false, T::orange},
                                           {EngineState::starting, true, T::red},
                                           {EngineState::failed, true, T::red}}) {
        StatusIcon icon = makeStatusIcon(engine, recording);
        EXPECT_EQ(icon.tint, tint) << toString(engine) << recording;
        EXPECT_EQ(icon.isTemplate, tint == T::black);
    }
}

}  // namespace
}  // namespace zavren
