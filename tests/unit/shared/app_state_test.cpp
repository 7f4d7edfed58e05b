#include "shared/app_state.h"

#include <gtest/gtest.h>

namespace zavren {
namespace {

TEST(AppState, StartsWithTheDocumentedValues) {
    AppState st;
    EXPECT_EQ(st.state(), RecState::idle);
    EXPECT_EQ(st.engine(), EngineState::starting);
    for (double l : st.levels()) EXPECT_DOUBLE_EQ(l, 0.12);
    EXPECT_FALSE(st.hint().has_value());
    EXPECT_EQ(st.preview(), "");
}

TEST(AppState, LevelsSlideKeepingSevenNewestLast) {
    AppState st;
    for (int i = 1; i <= 9; ++i) st.pushLevel(i / 10.0);
    ASSERT_EQ(st.levels().size(), 7u);
    EXPECT_DOUBLE_EQ(st.levels().front(), 0.3);
    EXPECT_DOUBLE_EQ(st.levels().back(), 0.9);
}

TEST(AppState, EverySetPublishesEvenWhenUnchanged) {
    AppState st;
    std::vector<AppState::Field> seen;
    auto sub = st.subscribe([&](AppState::Field f) { seen.push_back(f); });
    st.setState(RecState::idle);
    st.setEngine(EngineState::ready);
    st.pushLevel(0.5);
    st.setHint("x");
    st.setPreview("");
    EXPECT_EQ(seen, (std::vector<AppState::Field>{AppState::Field::state, AppState::Field::engine,
                                                  AppState::Field::levels, AppState::Field::hint,
                                                  AppState::Field::preview}));
}

TEST(AppState, DroppingTheSubscriptionStopsNotifications) {
    AppState st;
    int n = 0;
    auto sub = st.subscribe([&](AppState::Field) { ++n; });
    st.setHint("a");
    sub.reset();
    st.setHint("b");
    EXPECT_EQ(n, 1);
}

TEST(AppState, ObserverMayUnsubscribeItselfWhileNotified) {
    AppState st;
    AppState::Subscription sub;
    int n = 0;
    sub = st.subscribe([&](AppState::Field) {
        ++n;
        sub.reset();
    });
    st.setPreview("a");
    st.setPreview("b");
    EXPECT_EQ(n, 1);
}

}  // namespace
}  // namespace zavren
