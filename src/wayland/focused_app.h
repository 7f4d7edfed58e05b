#pragma once

#include <string>
#include <string_view>

namespace zavren {

// The focused window's app id from `swaymsg -t get_tree` (an X11 window's
// class when it has no app id); empty when none is focused or the tree is bad.
std::string swayFocusedApp(std::string_view treeJson);

// The active window's class from `hyprctl activewindow -j`; empty when unknown.
std::string hyprlandActiveApp(std::string_view windowJson);

}  // namespace zavren
