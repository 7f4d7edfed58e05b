// The X11 adapters against the test desktop's Xvfb: the Alt monitor sees keys
// pressed through XTest, the paste keystroke reaches a real window, trust holds.
// gtest first: Xlib's macros (None, Bool, Status) break its headers.
#include <gtest/gtest.h>
// keep
#include <X11/extensions/XTest.h>
#include <poll.h>

#include <chrono>
#include <vector>

#include "paste_target.h"
#include "posix/run_loop.h"
#include "shared/constants.h"
#include "system/harness/desktop_env.h"
#include "x11/xinput_hotkey_monitor.h"
#include "x11/xtest_key_synthesizer.h"
#include "x11/xtest_trust.h"

namespace zavren {
namespace {

using namespace std::chrono_literals;
using Events = std::vector<std::pair<std::uint16_t, std::uint64_t>>;

constexpr int SHIFT_L = 50;
constexpr int SUPER_L = 133;

// Presses keys the way xdotool does: XTest on a connection of its own.
class Keyboard {
  public:
    Keyboard() : d_(openDisplay()) {}
    ~Keyboard() {
        // Never leave a key down for the next test.
        for (int kc : {RIGHT_ALT_KEYCODE, LEFT_ALT_KEYCODE, SHIFT_L, SUPER_L}) {
            if (isDown(kc)) key(kc, false);
        }
    }
    void key(int keycode, bool press) {
        XTestFakeKeyEvent(d_.get(), static_cast<unsigned>(keycode), press, CurrentTime);
        XSync(d_.get(), False);
    }
    bool isDown(int keycode) {
        char keys[32] = {};
        XQueryKeymap(d_.get(), keys);
        return keys[keycode / 8] & (1 << (keycode % 8));
    }

  private:
    DisplayPtr d_;
};

class X11SystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(desktop::available()) << "needs the test desktop (run through ctest)";
        ASSERT_TRUE(monitor.valid());
        monitor.install(
            [this](const FlagsEvent& ev) { events.emplace_back(ev.keyCode, ev.flags); });
        monitor.runOn(loop);
    }

    // Waits for the events, then proves nothing else came before a sentinel tap of
    // left Alt (events arrive in order, so no sleeping is needed to see "no more").
    Events expectOnly(std::size_t n) {
        EXPECT_TRUE(loop.runUntil([&] { return events.size() >= n; }, seconds(5)))
            << "saw " << events.size() << " of " << n << " events";
        keys.key(LEFT_ALT_KEYCODE, true);
        keys.key(LEFT_ALT_KEYCODE, false);
        EXPECT_TRUE(loop.runUntil([&] { return events.size() >= n + 2; }, seconds(5)));
        Events got = events;
        events.clear();
        if (got.size() < n + 2) return got;
        const Events sentinel(got.end() - 2, got.end());
        EXPECT_EQ(sentinel, (Events{{LEFT_OPTION_CODE, OPTION_FLAG}, {LEFT_OPTION_CODE, 0}}))
            << "unexpected events before the sentinel";
        got.resize(got.size() - 2);
        return got;
    }

    RunLoopDispatcher loop;
    Keyboard keys;
    XInputHotkeyMonitor monitor;
    Events events;
};

TEST_F(X11SystemTest, RightAltIsReportedAsTheHotkeyWithTheOptionBit) {
    keys.key(RIGHT_ALT_KEYCODE, true);
    keys.key(RIGHT_ALT_KEYCODE, false);
    EXPECT_EQ(expectOnly(2), (Events{{HOTKEY_CODE, OPTION_FLAG}, {HOTKEY_CODE, 0}}));
}

TEST_F(X11SystemTest, ReleasingRightAltWhileLeftAltIsHeldKeepsTheBit) {
    keys.key(LEFT_ALT_KEYCODE, true);
    keys.key(RIGHT_ALT_KEYCODE, true);
    keys.key(RIGHT_ALT_KEYCODE, false);
    keys.key(LEFT_ALT_KEYCODE, false);
    EXPECT_EQ(expectOnly(4), (Events{{LEFT_OPTION_CODE, OPTION_FLAG},
                                     {HOTKEY_CODE, OPTION_FLAG},
                                     {HOTKEY_CODE, OPTION_FLAG},
                                     {LEFT_OPTION_CODE, 0}}));
}

TEST_F(X11SystemTest, APressOfAKeyAlreadyDownIsNotANewPress) {
    keys.key(RIGHT_ALT_KEYCODE, true);
    keys.key(RIGHT_ALT_KEYCODE, true);
    keys.key(RIGHT_ALT_KEYCODE, true);
    keys.key(RIGHT_ALT_KEYCODE, false);
    keys.key(RIGHT_ALT_KEYCODE, false);
    EXPECT_EQ(expectOnly(2), (Events{{HOTKEY_CODE, OPTION_FLAG}, {HOTKEY_CODE, 0}}));
}

TEST_F(X11SystemTest, OtherKeysAreNotReported) {
    keys.key(SHIFT_L, true);
    keys.key(SHIFT_L, false);
    keys.key(SUPER_L, true);
    keys.key(SUPER_L, false);
    EXPECT_EQ(expectOnly(0), Events{});
}

TEST(X11MonitorDrain, AnEventLoopCanDriveTheMonitorThroughItsSocket) {
    ASSERT_TRUE(desktop::available());
    XInputHotkeyMonitor monitor;
    ASSERT_TRUE(monitor.valid());
    ASSERT_GE(monitor.fd(), 0);
    Events events;
    monitor.install([&](const FlagsEvent& ev) { events.emplace_back(ev.keyCode, ev.flags); });
    monitor.drain();
    Keyboard keys;
    keys.key(RIGHT_ALT_KEYCODE, true);
    keys.key(RIGHT_ALT_KEYCODE, false);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (events.size() < 2 && std::chrono::steady_clock::now() < deadline) {
        pollfd p{monitor.fd(), POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) monitor.drain();
    }
    EXPECT_EQ(events, (Events{{HOTKEY_CODE, OPTION_FLAG}, {HOTKEY_CODE, 0}}));
}

TEST(X11Trust, XTestOnTheDisplayMeansTrusted) {
    ASSERT_TRUE(desktop::available());
    XTestTrust trust;
    EXPECT_TRUE(trust.isTrusted(false));
    EXPECT_TRUE(trust.isTrusted(true));
}

class PasteSystemTest : public X11SystemTest {
  protected:
    std::optional<PasteTarget::Paste> pasteInto(PasteTarget& target, const std::string& text) {
        EXPECT_TRUE(target.show(5000ms)) << "the test window did not get the focus";
        EXPECT_TRUE(target.ownClipboard(text));
        synthesizer.postPaste();
        return target.waitForPaste(5000ms);
    }

    XTestKeySynthesizer synthesizer;
};

TEST_F(PasteSystemTest, AnOrdinaryWindowGetsCtrlV) {
    PasteTarget target("zavren-editor", "ZavrenEditor", false);
    auto paste = pasteInto(target, "你好, world");
    ASSERT_TRUE(paste) << "nothing was pasted";
    EXPECT_EQ(paste->text, "你好, world");
    EXPECT_EQ(paste->state & (ControlMask | ShiftMask | Mod1Mask | Mod4Mask), ControlMask);
    EXPECT_EQ(expectOnly(0), Events{});
}

TEST_F(PasteSystemTest, ATerminalGetsCtrlShiftVEvenWhenAChildHasTheFocus) {
    PasteTarget target("xterm", "XTerm", true);
    ASSERT_TRUE(target.show(5000ms));
    auto cls = synthesizer.focusedWmClass();
    ASSERT_TRUE(cls);
    EXPECT_EQ(cls->className, "XTerm");
    auto paste = pasteInto(target, "ls -la");
    ASSERT_TRUE(paste) << "nothing was pasted";
    EXPECT_EQ(paste->text, "ls -la");
    EXPECT_EQ(paste->state & (ControlMask | ShiftMask | Mod1Mask), ControlMask | ShiftMask);
}

TEST_F(PasteSystemTest, HeldModifiersDoNotJoinTheChordAndStayHeld) {
    PasteTarget target("zavren-editor", "ZavrenEditor", false);
    ASSERT_TRUE(target.show(5000ms));
    // The user already holds right Alt for the next dictation, and Shift and Super.
    keys.key(RIGHT_ALT_KEYCODE, true);
    keys.key(SHIFT_L, true);
    keys.key(SUPER_L, true);
    ASSERT_TRUE(loop.runUntil([&] { return !events.empty(); }, seconds(5)));
    EXPECT_EQ(events, (Events{{HOTKEY_CODE, OPTION_FLAG}}));
    events.clear();

    auto paste = pasteInto(target, "text");
    ASSERT_TRUE(paste) << "nothing was pasted";
    EXPECT_EQ(paste->state & (ControlMask | ShiftMask | Mod1Mask | Mod4Mask), ControlMask);
    EXPECT_TRUE(keys.isDown(RIGHT_ALT_KEYCODE));
    EXPECT_TRUE(keys.isDown(SHIFT_L));
    EXPECT_TRUE(keys.isDown(SUPER_L));

    // Lifting and restoring right Alt around the paste was not the user's doing:
    // the dictation in progress sees only the real release.
    keys.key(SHIFT_L, false);
    keys.key(SUPER_L, false);
    keys.key(RIGHT_ALT_KEYCODE, false);
    EXPECT_EQ(expectOnly(1), (Events{{HOTKEY_CODE, 0}}));
}

}  // namespace
}  // namespace zavren
