#include <gtest/gtest.h>

#include <climits>

#include "fakes/fake_ports.h"
#include "qt/desktop_notifications.h"

namespace zavren {
namespace {

using Reply = DesktopNotifications::Reply;

// Notify(app, replaces_id, icon, summary, body, actions, hints, expire_timeout).
TEST(DesktopNotifications, OneCallAtATimeEachReplacingTheLastAndNoServiceLoggedOnce) {
    fakes::FakeLog log;
    std::vector<std::pair<QList<QVariant>, Reply>> calls;
    DesktopNotifications n(
        log, [&](const QList<QVariant>& args, Reply r) { calls.emplace_back(args, std::move(r)); });
    n.notify("一", 1.2);
    n.notify("二", 4.0);
    n.notify("三", 0);
    ASSERT_EQ(calls.size(), 1u);
    calls[0].second(7, "");
    ASSERT_EQ(calls.size(), 2u);  // the newest waited; the stale one is dropped
    calls[1].second(std::nullopt, "org.freedesktop.DBus.Error.ServiceUnknown");
    n.notify("四", 1e12);
    calls.at(2).second(std::nullopt, "org.freedesktop.DBus.Error.ServiceUnknown");
    EXPECT_EQ(log.lines.size(), 1u);

    const QList<QVariant>& three = calls[1].first;
    EXPECT_EQ(three[3].toString(), QStringLiteral("三"));
    // The service refuses a call whose signature is off by one type.
    EXPECT_EQ(three[1].metaType(), QMetaType::fromType<uint>());
    EXPECT_EQ(three[7].metaType(), QMetaType::fromType<int>());
    EXPECT_EQ(three[1].toUInt(), 7u);
    EXPECT_EQ(calls[0].first[7].toInt(), 1200);
    EXPECT_EQ(three[7].toInt(), -1);
    EXPECT_EQ(calls.at(2).first[7].toInt(), INT_MAX);
}

// The listening notice must go when the dictation ends, even before its id is known.
TEST(DesktopNotifications, WithdrawClosesTheLastOneOnceItsIdIsKnown) {
    fakes::FakeLog log;
    std::vector<Reply> replies;
    std::vector<uint> closed;
    DesktopNotifications n(
        log, [&](const QList<QVariant>&, Reply r) { replies.push_back(std::move(r)); },
        [&](uint id) { closed.push_back(id); });
    n.notify("正在听…", 600);
    n.withdraw();
    EXPECT_TRUE(closed.empty());
    replies.at(0)(5, "");
    EXPECT_EQ(closed, std::vector<uint>{5});
    n.withdraw();  // nothing showing any more
    n.notify("一", 1);
    n.notify("二", 1);  // waits behind the first, and is dropped by the withdraw
    n.withdraw();
    replies.at(1)(std::nullopt, "org.freedesktop.DBus.Error.ServiceUnknown");
    EXPECT_EQ(replies.size(), 2u);
    EXPECT_EQ(closed, std::vector<uint>{5});
}

}  // namespace
}  // namespace zavren
