#include "x11/alt_keys.h"

#include <gtest/gtest.h>

#include <tuple>

#include "x11/wm_class.h"

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
