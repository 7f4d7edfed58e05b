#include "x11/alt_keys.h"

#include <gtest/gtest.h>

#include <vector>

#include "shared/constants.h"

namespace zavren {
namespace {

struct Raw {
    int keycode;
    bool press;
};

std::vector<FlagsEvent> feed(const std::vector<Raw>& raws) {
    AltKeyTracker tracker;
    std::vector<FlagsEvent> out;
    for (auto r : raws) {
        if (auto ev = tracker.onKey(r.keycode, r.press)) out.push_back(*ev);
    }
    return out;
}

void expectEvents(const std::vector<FlagsEvent>& got,
                  const std::vector<std::pair<std::uint16_t, std::uint64_t>>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].keyCode, want[i].first) << "event " << i;
        EXPECT_EQ(got[i].flags, want[i].second) << "event " << i;
    }
}

constexpr int R = RIGHT_ALT_KEYCODE;
constexpr int L = LEFT_ALT_KEYCODE;

TEST(AltKeyTracker, RightAltIsTheHotkeyWithTheOptionBitWhileDown) {
    expectEvents(feed({{R, true}, {R, false}}), {{HOTKEY_CODE, OPTION_FLAG}, {HOTKEY_CODE, 0}});
    expectEvents(feed({{L, true}, {L, false}}),
                 {{LEFT_OPTION_CODE, OPTION_FLAG}, {LEFT_OPTION_CODE, 0}});
}

TEST(AltKeyTracker, RepeatedPressesAndReleasesAreDropped) {
    // A second press must not restart the dictation; a second release while the
    // left Alt is held would carry the bit and read as a press.
    expectEvents(feed({{R, true}, {R, true}, {R, true}, {R, false}, {R, false}}),
                 {{HOTKEY_CODE, OPTION_FLAG}, {HOTKEY_CODE, 0}});
    expectEvents(
        feed({{L, true}, {R, true}, {R, false}, {R, false}}),
        {{LEFT_OPTION_CODE, OPTION_FLAG}, {HOTKEY_CODE, OPTION_FLAG}, {HOTKEY_CODE, OPTION_FLAG}});
}

TEST(AltKeyTracker, ReleaseOfAKeyNeverSeenDownIsDropped) {
    expectEvents(feed({{R, false}, {L, false}}), {});
}

TEST(AltKeyTracker, TheBitFollowsBothKeys) {
    expectEvents(feed({{L, true}, {R, true}, {L, false}, {R, false}}),
                 {{LEFT_OPTION_CODE, OPTION_FLAG},
                  {HOTKEY_CODE, OPTION_FLAG},
                  {LEFT_OPTION_CODE, OPTION_FLAG},
                  {HOTKEY_CODE, 0}});
}

TEST(AltKeyTracker, OtherKeysAreIgnored) {
    expectEvents(feed({{50, true}, {37, true}, {105, true}, {50, false}}), {});
}

TEST(SyntheticKeyLedger, ConsumesEachAnnouncedEventOnce) {
    SyntheticKeyLedger ledger;
    const auto t0 = SyntheticKeyLedger::Clock::now();
    ledger.expect(R, false, t0);
    ledger.expect(R, true, t0);
    EXPECT_TRUE(ledger.consume(R, true, t0));
    EXPECT_FALSE(ledger.consume(R, true, t0));
    EXPECT_TRUE(ledger.consume(R, false, t0));
    EXPECT_FALSE(ledger.consume(R, false, t0));  // the user's own release passes
    EXPECT_FALSE(ledger.consume(L, true, t0));
}

TEST(SyntheticKeyLedger, AnnouncementsThatNeverArrivedExpire) {
    SyntheticKeyLedger ledger;
    const auto t0 = SyntheticKeyLedger::Clock::now();
    ledger.expect(R, false, t0);
    EXPECT_FALSE(
        ledger.consume(R, false, t0 + SyntheticKeyLedger::EXPIRY + std::chrono::milliseconds(1)));
    EXPECT_FALSE(ledger.consume(R, false, t0));
}

}  // namespace
}  // namespace zavren
