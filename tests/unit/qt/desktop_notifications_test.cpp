#include <gtest/gtest.h>

#include <climits>

#include "qt/desktop_notifications.h"

namespace zavren {
namespace {

// Notify(app, replaces_id, icon, summary, body, actions, hints, expire_timeout).
TEST(DesktopNotifications, EachHintReplacesTheLastAndExpiresWithIt) {
    struct Row {
        double seconds;
        int expireMs;
    };
    for (auto [seconds, expireMs] : {Row{1.2, 1200}, Row{0, -1}, Row{1e12, INT_MAX}}) {
        const QVariantList args = notifyArguments("已复制,按 Ctrl+V 粘贴", seconds, 7);
        ASSERT_EQ(args.size(), 8);
        // The service refuses a call whose signature is off by one type.
        EXPECT_EQ(args[1].metaType(), QMetaType::fromType<uint>());
        EXPECT_EQ(args[7].metaType(), QMetaType::fromType<int>());
        EXPECT_EQ(args[1].toUInt(), 7u);
        EXPECT_EQ(args[3].toString(), QStringLiteral("已复制,按 Ctrl+V 粘贴"));
        EXPECT_EQ(args[7].toInt(), expireMs) << seconds;
    }
}

}  // namespace
}  // namespace zavren
