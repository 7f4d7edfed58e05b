#pragma once

#include <map>
#include <string>

namespace zavren {

enum class SessionKind { x11, wayland };

// Which adapters the desktop program uses. X11 clients inside a Wayland session
// see only other X11 windows, so the Wayland ones win whenever both are there.
SessionKind sessionKind(const std::map<std::string, std::string>& env);

}  // namespace zavren
