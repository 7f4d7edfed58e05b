#include "x11/paste_chord.h"

#include <gtest/gtest.h>

namespace zavren {
namespace {

struct ChordCase {
    const char* instance;
    const char* className;
    PasteChord expected;
};

class PasteChordTest : public ::testing::TestWithParam<ChordCase> {};

TEST_P(PasteChordTest, ChoosesTheChordTheWindowAccepts) {
    const auto& c = GetParam();
    EXPECT_EQ(pasteChordFor(WmClass{c.instance, c.className}), c.expected)
        << c.instance << " / " << c.className;
}

INSTANTIATE_TEST_SUITE_P(
    Windows, PasteChordTest,
    ::testing::Values(
        // Terminals, as they name themselves: matched by either half, any case.
        ChordCase{"gnome-terminal-server", "Gnome-terminal", PasteChord::CtrlShiftV},
        ChordCase{"konsole", "konsole", PasteChord::CtrlShiftV},
        ChordCase{"xfce4-terminal", "Xfce4-terminal", PasteChord::CtrlShiftV},
        ChordCase{"kitty", "kitty", PasteChord::CtrlShiftV},
        ChordCase{"Alacritty", "Alacritty", PasteChord::CtrlShiftV},
        ChordCase{"org.wezfurlong.wezterm", "org.wezfurlong.wezterm", PasteChord::CtrlShiftV},
        ChordCase{"foot", "foot", PasteChord::CtrlShiftV},
        ChordCase{"tilix", "Tilix", PasteChord::CtrlShiftV},
        ChordCase{"terminator", "Terminator", PasteChord::CtrlShiftV},
        ChordCase{"xterm", "XTerm", PasteChord::CtrlShiftV},
        ChordCase{"urxvt", "URxvt", PasteChord::CtrlShiftV},
        ChordCase{"st", "st-256color", PasteChord::CtrlShiftV},
        ChordCase{"unknown", "TERMINOLOGY", PasteChord::CtrlShiftV},
        // Everything else, including names that merely contain a terminal's name.
        ChordCase{"Navigator", "firefox", PasteChord::CtrlV},
        ChordCase{"code", "Code", PasteChord::CtrlV},
        ChordCase{"Steam", "steam", PasteChord::CtrlV},
        ChordCase{"kitty-notes", "KittyNotes", PasteChord::CtrlV},
        ChordCase{"", "", PasteChord::CtrlV}));

TEST(ParseWmClass, SplitsTheTwoNulTerminatedHalves) {
    using namespace std::string_view_literals;
    auto both = parseWmClass("xterm\0XTerm\0"sv);
    EXPECT_EQ(both.instance, "xterm");
    EXPECT_EQ(both.className, "XTerm");
    auto unterminated = parseWmClass("kitty\0kitty"sv);
    EXPECT_EQ(unterminated.className, "kitty");
    auto onlyInstance = parseWmClass("foot"sv);
    EXPECT_EQ(onlyInstance.instance, "foot");
    EXPECT_EQ(onlyInstance.className, "");
    EXPECT_EQ(pasteChordFor(parseWmClass("\0Alacritty\0"sv)), PasteChord::CtrlShiftV);
}

}  // namespace
}  // namespace zavren
