// The X11 adapters against the test desktop's Xvfb: the Alt monitor sees keys
// pressed through XTest, and the paste chord reaches a real window.
// gtest first: Xlib's macros (None, Bool, Status) break its headers.
#include <gtest/gtest.h>
// keep
#include <X11/extensions/XTest.h>

#include <vector>

#include "dictation/paste_chord.h"
#include "paste_target.h"
#include "posix/run_loop.h"
#include "desktop/desktop_env.h"
#include "x11/xinput_hotkey_monitor.h"
#include "x11/xtest_key_synthesizer.h"

namespace zavren {
namespace {

using namespace std::chrono_literals;
using Events = std::vector<HotkeyEvent>;

constexpr int SHIFT_L = 50;
constexpr int SUPER_L = 133;
constexpr unsigned MODS = ControlMask | ShiftMask | Mod1Mask | Mod4Mask;

// The monitor and the synthesiser share one ledger, as in the program; keys are
// pressed the way xdotool does, on a connection of their own.
class X11 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(desktop::available()) << "needs the test desktop (run through ctest)";
        ASSERT_TRUE(monitor.valid());
        monitor.install([this](HotkeyEvent e) { events.push_back(e); });
        monitor.runOn(loop);
    }
    void TearDown() override {
        for (int kc : {RIGHT_ALT_KEYCODE, LEFT_ALT_KEYCODE, SHIFT_L, SUPER_L}) key(kc, false);
    }
    void key(int keycode, bool press) {
        XTestFakeKeyEvent(keys.get(), static_cast<unsigned>(keycode), press, CurrentTime);
        XSync(keys.get(), False);
    }
    // The n events expected, and proof that nothing else came before a sentinel tap
    // of right Alt: events arrive in order, so no sleep is needed to see "no more".
    Events reported(std::size_t n) {
        EXPECT_TRUE(loop.runUntil([&] { return events.size() >= n; }, seconds(5)));
        key(RIGHT_ALT_KEYCODE, true);
        key(RIGHT_ALT_KEYCODE, false);
        EXPECT_TRUE(loop.runUntil([&] { return events.size() >= n + 2; }, seconds(5)));
        Events got = std::exchange(events, {});
        EXPECT_EQ(Events(got.end() - std::min<long>(2, std::ssize(got)), got.end()),
                  (Events{HotkeyEvent::press, HotkeyEvent::release}));
        if (got.size() >= 2) got.resize(got.size() - 2);
        return got;
    }
    std::optional<PasteTarget::Paste> pasteInto(PasteTarget& target) {
        EXPECT_TRUE(target.show(5000ms)) << "the test window did not get the focus";
        EXPECT_TRUE(target.ownClipboard("你好, world"));
        synthesizer.postPaste(pasteChordFor(synthesizer.focusedApp(), true).keys);
        return target.waitForPaste(5000ms);
    }

    RunLoopDispatcher loop;
    DisplayPtr keys = openDisplay();
    std::shared_ptr<SyntheticKeyLedger> ledger = std::make_shared<SyntheticKeyLedger>();
    XInputHotkeyMonitor monitor{ledger};
    XTestKeySynthesizer synthesizer{ledger};
    Events events;
};

TEST_F(X11, AnOrdinaryWindowGetsCtrlVAndATerminalCtrlShiftV) {
    for (bool terminal : {false, true}) {
        PasteTarget target(terminal ? "kitty" : "zavren-editor",
                           terminal ? "kitty" : "ZavrenEditor", terminal);
        auto paste = pasteInto(target);
        ASSERT_TRUE(paste) << "nothing was pasted into " << (terminal ? "xterm" : "the editor");
        EXPECT_EQ(paste->text, "你好, world");
        EXPECT_EQ(paste->state & MODS, ControlMask | (terminal ? ShiftMask : 0u));
    }
    EXPECT_EQ(reported(0), Events{});
}

TEST_F(X11, HeldModifiersStayOutOfTheChordAndTheirLiftIsNotTheUsers) {
    PasteTarget target("zavren-editor", "ZavrenEditor", false);
    for (int kc : {RIGHT_ALT_KEYCODE, SHIFT_L, SUPER_L}) key(kc, true);
    auto paste = pasteInto(target);
    ASSERT_TRUE(paste) << "nothing was pasted";
    EXPECT_EQ(paste->state & MODS, static_cast<unsigned>(ControlMask));
    for (int kc : {SHIFT_L, SUPER_L, RIGHT_ALT_KEYCODE}) key(kc, false);
    // The dictation in progress sees only the user's press and release.
    EXPECT_EQ(reported(2), (Events{HotkeyEvent::press, HotkeyEvent::release}));
}

}  // namespace
}  // namespace zavren
