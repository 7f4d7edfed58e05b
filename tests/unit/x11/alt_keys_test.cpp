#include "x11/alt_keys.h"

#include <gtest/gtest.h>

#include "x11/paste_chord.h"

namespace zavren {
namespace {

constexpr int R = RIGHT_ALT_KEYCODE;
constexpr int L = LEFT_ALT_KEYCODE;
TEST(SyntheticKeyLedger, ConsumesEachAnnouncedEventOnceBeforeItExpires) {
    SyntheticKeyLedger ledger;
    const auto t0 = SyntheticKeyLedger::Clock::now();
    ledger.expect(R, false, t0);
    ledger.expect(R, true, t0);
    ledger.expect(L, true, t0);
    EXPECT_TRUE(ledger.consume(R, true, t0));
    EXPECT_FALSE(ledger.consume(R, true, t0));
    EXPECT_TRUE(ledger.consume(R, false, t0));
    EXPECT_FALSE(ledger.consume(R, false, t0));  // the user's own release passes
    EXPECT_FALSE(ledger.consume(L, true, t0 + SyntheticKeyLedger::EXPIRY * 2));
}

TEST(PasteChord, TerminalsByEitherWholeNameGetCtrlShiftV) {
    using namespace std::string_view_literals;
    const std::pair<std::string_view, PasteChord> cases[] = {
        {"gnome-terminal-server\0Gnome-terminal"sv, PasteChord::CtrlShiftV},
        {"xterm\0XTerm\0"sv, PasteChord::CtrlShiftV},
        {"st\0st-256color"sv, PasteChord::CtrlShiftV},
        {"unknown\0TERMINOLOGY"sv, PasteChord::CtrlShiftV},
        {"\0Alacritty\0"sv, PasteChord::CtrlShiftV},
        {"foot"sv, PasteChord::CtrlShiftV},
        {"Navigator\0firefox"sv, PasteChord::CtrlV},
        {"kitty-notes\0KittyNotes"sv, PasteChord::CtrlV},
        {""sv, PasteChord::CtrlV},
    };
    for (auto [raw, want] : cases) EXPECT_EQ(pasteChordFor(parseWmClass(raw)), want) << raw;
}

}  // namespace
}  // namespace zavren
