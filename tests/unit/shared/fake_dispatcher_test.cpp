#include "fakes/fake_dispatcher.h"

#include <gtest/gtest.h>

#include <string>

namespace zavren::fakes {
namespace {

TEST(FakeDispatcher, RunsDueTasksInDeadlineThenPostingOrder) {
    FakeDispatcher d;
    std::string order;
    d.postAfter(seconds(0.5), [&] { order += "c"; });
    d.post([&] { order += "a"; });
    d.post([&] { order += "b"; });
    d.postAfter(seconds(0.5), [&] { order += "d"; });
    d.runUntilIdle();
    EXPECT_EQ(order, "ab");
    d.advance(0.49);
    EXPECT_EQ(order, "ab");
    d.advance(0.01);
    EXPECT_EQ(order, "abcd");
}

TEST(FakeDispatcher, TasksSeeTheirOwnDeadlineAsNow) {
    FakeDispatcher d;
    double at = -1;
    d.postAfter(seconds(1.5), [&] { at = d.elapsed(); });
    d.advance(10);
    EXPECT_NEAR(at, 1.5, 1e-9);
    EXPECT_NEAR(d.elapsed(), 10, 1e-9);
}

TEST(FakeDispatcher, RepeatingTimerTicksWithoutDriftUntilCancelled) {
    FakeDispatcher d;
    int ticks = 0;
    auto timer = d.repeating(seconds(0.06), [&] { ++ticks; });
    d.advance(0.6);
    EXPECT_EQ(ticks, 10);
    timer->cancel();
    d.advance(1);
    EXPECT_EQ(ticks, 10);
}

TEST(FakeDispatcher, DestroyingTheTimerStopsIt) {
    FakeDispatcher d;
    int ticks = 0;
    {
        auto timer = d.repeating(seconds(1), [&] { ++ticks; });
        d.advance(2);
    }
    d.advance(5);
    EXPECT_EQ(ticks, 2);
}

TEST(FakeDispatcher, WorkPostedByATaskForNowRunsInTheSameIdleRun) {
    FakeDispatcher d;
    int n = 0;
    d.post([&] { d.post([&] { ++n; }); });
    d.runUntilIdle();
    EXPECT_EQ(n, 1);
}

}  // namespace
}  // namespace zavren::fakes
