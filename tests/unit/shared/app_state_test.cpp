#include "shared/app_state.h"

#include <gtest/gtest.h>

namespace zavren {
namespace {

TEST(AppState, EverySetPublishesAndAnObserverMayLeaveWhileNotified) {
    AppState st;
    std::vector<AppState::Field> seen;
    AppState::Subscription sub = st.subscribe([&](AppState::Field f) {
        seen.push_back(f);
        if (f == AppState::Field::preview) sub.reset();
    });
    st.setEngine(EngineState::failed, "端口被占用");
    st.setPreview("a");
    st.setPreview("b");
    EXPECT_EQ(seen,
              (std::vector<AppState::Field>{AppState::Field::engine, AppState::Field::preview}));
    EXPECT_EQ(st.engineProblem(), "端口被占用");
}

}  // namespace
}  // namespace zavren
