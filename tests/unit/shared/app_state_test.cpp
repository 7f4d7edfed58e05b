#include "shared/app_state.h"

#include <gtest/gtest.h>

namespace zavren {
namespace {

TEST(AppState, LevelsSlideKeepingTheSevenNewestLast) {
    AppState st;
    for (int i = 1; i <= 9; ++i) st.pushLevel(i / 10.0);
    EXPECT_DOUBLE_EQ(st.levels().front(), 0.3);
    EXPECT_DOUBLE_EQ(st.levels().back(), 0.9);
}

TEST(AppState, EverySetPublishesAndAnObserverMayLeaveWhileNotified) {
    AppState st;
    std::vector<AppState::Field> seen;
    AppState::Subscription sub = st.subscribe([&](AppState::Field f) {
        seen.push_back(f);
        if (f == AppState::Field::preview) sub.reset();
    });
    st.setState(RecState::idle);
    st.setEngine(EngineState::failed, "端口被占用");
    st.setPreview("a");
    st.setPreview("b");
    EXPECT_EQ(seen, (std::vector<AppState::Field>{AppState::Field::state, AppState::Field::engine,
                                                  AppState::Field::preview}));
    EXPECT_EQ(st.engineProblem(), "端口被占用");
    st.setEngine(EngineState::ready);
    EXPECT_EQ(st.engineProblem(), "");
}

}  // namespace
}  // namespace zavren
