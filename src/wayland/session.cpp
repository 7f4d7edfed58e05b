#include "wayland/session.h"

namespace zavren {

SessionKind sessionKind(const std::map<std::string, std::string>& env) {
    auto value = [&](const char* name) {
        auto it = env.find(name);
        return it == env.end() ? std::string() : it->second;
    };
    if (!value("WAYLAND_DISPLAY").empty() || value("XDG_SESSION_TYPE") == "wayland")
        return SessionKind::wayland;
    return SessionKind::x11;
}

}  // namespace zavren
