#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch.h"
#include "platform/global_shortcuts.h"
#include "platform/input.h"
#include "platform/log.h"

namespace zavren {

// The held key through the desktop portal's global shortcuts where it offers them
// (KDE Plasma; GNOME from 48), on top of the session's other key sources: one
// shortcut "按住说话", Activated = press and Deactivated = release. The same key
// may reach us by two ways at once (the portal and the keyboard devices): a press
// while held and a release while not held are dropped.
class PortalHotkeyMonitor : public HotkeyMonitor,
                            public std::enable_shared_from_this<PortalHotkeyMonitor> {
  public:
    static constexpr double REPLY_TIMEOUT = 5.0;
    // The desktop may show a dialog to confirm or choose the trigger.
    static constexpr double BIND_TIMEOUT = 60.0;
    inline static const std::string SHORTCUT_ID = "hold-to-talk";
    inline static const std::string SHORTCUT_NAME = "按住说话";

    struct Deps {
        Dispatcher& dispatcher;
        HotkeyMonitor& inner;
        GlobalShortcutsBus& bus;
        SystemLog& log;
    };
    static std::shared_ptr<PortalHotkeyMonitor> create(Deps deps);

    void install(std::function<void(HotkeyEvent)> handler) override;
    void choose(HotkeyKey key) override;
    std::optional<HotkeySources> sources() const override;

    // The desktop names this key as the shortcut's wish (its keysym name).
    static std::string preferredTrigger(HotkeyKey key);

  private:
    explicit PortalHotkeyMonitor(Deps deps);
    void deliver(HotkeyEvent event);
    void probed(std::optional<unsigned> version);
    void created(PortalResponse response, const std::string& session);
    void boundAnswer(PortalResponse response);
    void giveUp(const std::string& why);
    void guard(double secs, const std::string& step);

    Deps d_;
    std::function<void(HotkeyEvent)> handler_;
    HotkeyKey key_ = HotkeyKey::rightAlt;
    std::string session_;
    bool bound_ = false;
    bool held_ = false;
    std::uint64_t step_ = 0;
};

}  // namespace zavren
