#include "wayland/session.h"

#include <gtest/gtest.h>

namespace zavren {
namespace {

TEST(SessionKind, WaylandWhenEitherVariableSaysSo) {
    using Env = std::map<std::string, std::string>;
    EXPECT_EQ(sessionKind({}), SessionKind::x11);
    EXPECT_EQ(sessionKind(Env{{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}}), SessionKind::x11);
    EXPECT_EQ(sessionKind(Env{{"WAYLAND_DISPLAY", ""}, {"XDG_SESSION_TYPE", "tty"}}),
              SessionKind::x11);
    // XWayland sets DISPLAY too: the Wayland adapters still win.
    EXPECT_EQ(sessionKind(Env{{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-1"}}),
              SessionKind::wayland);
    EXPECT_EQ(sessionKind(Env{{"XDG_SESSION_TYPE", "wayland"}}), SessionKind::wayland);
}

}  // namespace
}  // namespace zavren
