#pragma once

#include <chrono>
#include <map>
#include <string>
#include <string_view>

namespace zavren {

// The focused window's app id from sway's tree (an X11 window's class when it
// has no app id); empty when none is focused or the tree is bad.
std::string swayFocusedApp(std::string_view treeJson);

// The active window's class from Hyprland's answer; empty when unknown.
std::string hyprlandActiveApp(std::string_view windowJson);

// Asks the compositor named by env (sway's $SWAYSOCK, else Hyprland's instance
// socket) for the focused window's app id over its IPC socket. Empty when there
// is none, or it does not answer within timeout, or answers too much.
std::string focusedAppFromCompositor(const std::map<std::string, std::string>& env,
                                     std::chrono::milliseconds timeout);

}  // namespace zavren
