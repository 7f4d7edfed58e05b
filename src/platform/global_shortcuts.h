#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/remote_desktop.h"

namespace zavren {

// The desktop portal's global shortcuts on the session bus. Answers come on the
// main thread, at most once each, and may never come: the caller bounds every wait.
class GlobalShortcutsBus {
  public:
    virtual ~GlobalShortcutsBus() = default;
    // The interface's version; absent when no portal offers it.
    virtual void probe(std::function<void(std::optional<unsigned> version)> answer) = 0;
    virtual void createSession(
        std::function<void(PortalResponse, const std::string& session)> answer) = 0;
    // One shortcut; the trigger is only a wish, the desktop or the user decides.
    virtual void bind(const std::string& session, const std::string& id,
                      const std::string& description, const std::string& preferredTrigger,
                      std::function<void(PortalResponse)> answer) = 0;
    // Activated (active) and Deactivated of a shortcut.
    virtual void onActivation(
        std::function<void(const std::string& session, const std::string& id, bool active)>
            handler) = 0;
    virtual void onClosed(std::function<void(const std::string& session)> handler) = 0;
};

}  // namespace zavren
