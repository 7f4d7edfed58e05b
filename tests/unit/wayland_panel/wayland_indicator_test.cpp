#include "wayland/panel/wayland_indicator.h"

#include <gtest/gtest.h>

#include "fakes/fake_ports.h"

namespace zavren {
namespace {

// Where no capsule can be shown, the user still sees that the key was heard, and
// the notice never outlives the dictation.
TEST(WaylandIndicator, WithoutACapsuleTheListeningNoticeIsReplacedOrWithdrawn) {
    struct Case {
        const char* name;
        bool listening;
        bool hint;
        std::vector<std::string> notified;
        int withdrawn;
    };
    const std::string notice = WaylandIndicator::LISTENING_NOTICE;
    const std::vector<Case> cases = {
        {"cancelled", true, false, {notice}, 1},
        {"ends in a hint", true, true, {notice, "已复制"}, 1},
        {"a retry shows no notice", false, false, {}, 0},
    };
    for (const Case& c : cases) {
        fakes::FakePanel capsule;
        std::vector<std::string> notified;
        int withdrawn = 0;
        WaylandIndicator panel(
            capsule, [] { return false; },
            [&](const std::string& text, double) { notified.push_back(text); },
            [&] { return c.listening; }, [&] { ++withdrawn; });
        panel.show();
        if (c.hint) panel.showHint("已复制", 4.0);
        panel.hide();
        panel.hide();  // the hint's own timer hides again
        EXPECT_EQ(notified, c.notified) << c.name;
        EXPECT_EQ(withdrawn, c.withdrawn) << c.name;
    }
}

}  // namespace
}  // namespace zavren
