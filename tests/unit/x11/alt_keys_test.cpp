#include "x11/alt_keys.h"

#include <gtest/gtest.h>

#include <linux/input.h>
#include <tuple>

#include <vector>

#include "shared/constants.h"
#include "x11/wm_class.h"

namespace zavren {
namespace {

constexpr int R = RIGHT_ALT_KEYCODE;
constexpr int L = LEFT_ALT_KEYCODE;
constexpr auto RD = std::pair{HOTKEY_CODE, OPTION_FLAG};
constexpr auto RU = std::pair{HOTKEY_CODE, std::uint64_t{0}};
constexpr auto LD = std::pair{LEFT_OPTION_CODE, OPTION_FLAG};
constexpr auto LU = std::pair{LEFT_OPTION_CODE, std::uint64_t{0}};

// Presses and releases of right Alt, left Alt and right Ctrl; SW chooses right Ctrl.
constexpr std::pair RP{R, true}, RR{R, false}, LP{L, true}, LR{L, false}, CP{105, true},
    CR{105, false}, SW{-1, true};

// The chosen key reads as right Option, left Alt as left Option beside right Alt only.
TEST(HotkeyTracker, TheChosenKeyOnceWithTheBitAndLeftAltOnlyBesideRightAlt) {
    using Events = std::vector<std::pair<std::uint16_t, std::uint64_t>>;
    using enum HotkeyKey;
    const struct {
        const char* name;
        HotkeyKey chosen;
        std::vector<std::pair<int, bool>> keys;
        Events want;
    } cases[] = {
        {"right", rightAlt, {RP, RR}, {RD, RU}},
        {"left", rightAlt, {LP, LR}, {LD, LU}},
        // A repeated press must not restart the dictation.
        {"repeatsAndAReleaseNeverSeenDown", rightAlt, {RP, RP, RR, RR, LR}, {RD, RU}},
        {"bothHeld", rightAlt, {LP, RP, LR, RR}, {LD, RD, LD, RU}},
        {"rightCtrlOthersIgnored", rightCtrl, {RP, LP, {50, true}, CP, CP, RR, CR}, {RD, RU}},
        // The key held when the choice changes still ends its dictation, and the
        // new one starts the next only then.
        {"switchWhileHeld", rightAlt, {LP, RP, SW, LR, CP, RR, CP, RP}, {LD, RD, LD, RU, RD}},
    };
    for (const auto& c : cases) {
        HotkeyTracker tracker;
        tracker.choose(c.chosen);
        Events got;
        for (auto [key, press] : c.keys) {
            if (key == SW.first) tracker.choose(HotkeyKey::rightCtrl);
            if (auto ev = tracker.onKey(key, press)) got.emplace_back(ev->keyCode, ev->flags);
        }
        EXPECT_EQ(got, c.want) << c.name;
    }
}

// The X server numbers keys as the kernel does, plus eight.
TEST(HotkeyTracker, EachKeyByItsKernelCode) {
    const int kernel[] = {KEY_RIGHTALT, KEY_LEFTALT, KEY_RIGHTCTRL, KEY_RIGHTMETA,
                          KEY_F13,      KEY_F14,     KEY_F15,       KEY_F16};
    for (std::size_t i = 0; i < HOTKEY_KEYS.size(); ++i)
        EXPECT_EQ(xKeycode(HOTKEY_KEYS[i]), kernel[i] + 8) << storedName(HOTKEY_KEYS[i]);
}

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

TEST(WmClass, EachHalfEndsAtItsNul) {
    using namespace std::string_view_literals;
    const std::tuple<std::string_view, const char*, const char*> cases[] = {
        {"gnome-terminal-server\0Gnome-terminal"sv, "gnome-terminal-server", "Gnome-terminal"},
        {"xterm\0XTerm\0"sv, "xterm", "XTerm"},
        {"\0Alacritty\0"sv, "", "Alacritty"},
        {"foot"sv, "foot", ""},
        {""sv, "", ""},
    };
    for (auto [raw, instance, className] : cases) {
        const WmClass c = parseWmClass(raw);
        EXPECT_EQ(c.instance, instance) << raw;
        EXPECT_EQ(c.className, className) << raw;
    }
}

}  // namespace
}  // namespace zavren
