#include "wayland/focused_app.h"

#include <gtest/gtest.h>

namespace zavren {
namespace {

TEST(FocusedApp, FindsTheFocusedWindowInTheSwayTree) {
    const std::string tree = R"({"focused":false,"nodes":[{"nodes":[
        {"focused":false,"app_id":"firefox"},
        {"focused":true,"app_id":"foot"}]}],"floating_nodes":[]})";
    EXPECT_EQ(swayFocusedApp(tree), "foot");
    const std::string xwayland = R"({"nodes":[],"floating_nodes":[
        {"focused":true,"app_id":null,"window_properties":{"class":"XTerm"}}]})";
    EXPECT_EQ(swayFocusedApp(xwayland), "XTerm");
    EXPECT_EQ(swayFocusedApp(R"({"focused":false,"nodes":[{"nodes":"bad"}]})"), "");
    EXPECT_EQ(swayFocusedApp("{\"nodes\":[" + std::string(100000, '[')), "");
}

TEST(FocusedApp, ReadsHyprlandsActiveWindow) {
    EXPECT_EQ(hyprlandActiveApp(R"({"class":"kitty","initialClass":"x"})"), "kitty");
    EXPECT_EQ(hyprlandActiveApp(R"({"class":"","initialClass":"foot"})"), "foot");
    EXPECT_EQ(hyprlandActiveApp("{}"), "");
    EXPECT_EQ(hyprlandActiveApp("[1]"), "");
}

}  // namespace
}  // namespace zavren
