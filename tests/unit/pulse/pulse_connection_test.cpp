// Work handed to the sound server thread: no server is needed, only the loop.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "pulse/pulse_connection.h"

namespace zavren {
namespace {

using namespace std::chrono_literals;

TEST(PulseConnectionPost, RunsTasksInOrderOnTheLoopThread) {
    PulseConnection conn;
    std::vector<int> order;  // touched by the loop thread only until the promise is kept
    std::promise<std::thread::id> done;
    for (int i = 0; i < 3; ++i) conn.post([&order, i] { order.push_back(i); });
    conn.post([&done] { done.set_value(std::this_thread::get_id()); });
    auto ran = done.get_future();
    ASSERT_EQ(ran.wait_for(5s), std::future_status::ready);
    EXPECT_NE(ran.get(), std::this_thread::get_id());
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST(PulseConnectionPost, PostingWhileHoldingTheLockDoesNotWaitAndNothingIsLostAtShutdown) {
    int ran = 0;
    {
        PulseConnection conn;
        PulseConnection::Lock lock(conn);
        // The loop cannot run it while we hold the lock; post() must not wait for it.
        conn.post([&ran] { ++ran; });
        EXPECT_EQ(ran, 0);
    }
    // Either the loop ran it after the lock was released or the destructor did.
    EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace zavren
