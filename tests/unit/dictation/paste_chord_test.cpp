#include "dictation/paste_chord.h"

#include <gtest/gtest.h>

#include <tuple>

#include "dictation/press_order.h"

namespace zavren {
namespace {

TEST(PasteChord, TerminalsByAnyWholeNameGetTheirOwnDefaultPaste) {
    const PasteChord editor{};
    const PasteChord clipboard{.keys = PasteKeys::ctrlShiftV, .terminal = true};
    const PasteChord primary{.keys = PasteKeys::shiftInsert, .terminal = true, .primary = true};
    const PasteChord byHand{.keys = PasteKeys::ctrlShiftV, .terminal = true, .byHand = true};
    const std::tuple<std::vector<std::string>, bool, PasteChord> cases[] = {
        {{"gnome-terminal-server", "Gnome-terminal"}, true, clipboard},
        {{"unknown", "TERMINOLOGY"}, true, clipboard},
        {{"", "Alacritty"}, true, clipboard},
        {{"foot"}, false, clipboard},
        {{"xterm", "XTerm"}, true, primary},
        {{"urxvt", "URxvt"}, true, primary},
        {{"xterm", "XTerm"}, false, byHand},
        {{"Navigator", "firefox"}, true, editor},
        {{"kitty-notes", "KittyNotes"}, true, editor},
        {{}, true, editor},
    };
    for (const auto& [names, primaryAvailable, want] : cases)
        EXPECT_EQ(pasteChordFor(names, primaryAvailable), want)
            << (names.empty() ? "" : names.back());
}

TEST(PressOrder, APressSentBeforeTheLastReleaseIsIgnored) {
    using std::chrono::milliseconds;
    const TimePoint t0{};
    PressOrder order;
    EXPECT_TRUE(order.accepts(t0));  // nothing released yet
    // The release's process started at 10 ms but reached us first; the press's at 5 ms.
    order.released(t0 + milliseconds(10), t0 + milliseconds(12));
    EXPECT_FALSE(order.accepts(t0 + milliseconds(5)));
    EXPECT_TRUE(order.accepts(t0 + milliseconds(11)));  // pressed again after the release
    EXPECT_TRUE(order.accepts(std::nullopt));           // an old client says nothing
    // Without a stamp the release counts from when it was handled; a stamp from
    // the future counts from then too, so it cannot hold presses back.
    order.released(std::nullopt, t0 + milliseconds(20));
    EXPECT_FALSE(order.accepts(t0 + milliseconds(19)));
    order.released(t0 + milliseconds(9999), t0 + milliseconds(30));
    EXPECT_TRUE(order.accepts(t0 + milliseconds(31)));
}

}  // namespace
}  // namespace zavren
