#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zavren {

class InstallerHandle;

// The floating indicator. It renders AppState by itself; the core only moves,
// shows and hides it.
class IndicatorPanel {
  public:
    virtual ~IndicatorPanel() = default;
    // Builds the window once at start-up; until then show() and hide() may do nothing.
    virtual void setup() {}
    // Places it centred near the bottom of the main screen and shows it without
    // taking focus.
    virtual void show() = 0;
    virtual void hide() = 0;
    // Shows the panel for a hint just put in AppState for `seconds`. A desktop
    // where no capsule can be shown passes the hint on another way instead.
    virtual void showHint(const std::string& /*text*/, double /*seconds*/) { show(); }
};

// How the status icon looks; the adapter draws it.
struct StatusIcon {
    enum class Tint { black, red, orange };
    Tint tint = Tint::black;
    // Follows the panel's light or dark theme instead of keeping its colour.
    bool isTemplate = true;
    bool operator==(const StatusIcon&) const = default;
};

// One row of the status menu as the adapter shows it.
struct MenuItem {
    enum class Kind { header, action, separator, submenu };
    Kind kind = Kind::action;
    std::string title;
    std::string subtitle;  // header only: the smaller, dimmer part after the title
    bool enabled = true;
    std::optional<bool> checked;  // present: the row shows a check mark state
    std::string keyEquivalent;    // e.g. "q"
    std::function<void()> choose;
    // submenu only. Rows that all carry a check state are one choice: the adapter
    // may draw them as radio buttons.
    std::vector<MenuItem> submenu{};
};

// The tray icon and its menu, which is rebuilt from `build` every time it opens.
class StatusItem {
  public:
    virtual ~StatusItem() = default;
    virtual void show(const StatusIcon& icon) = 0;
    virtual void setIcon(const StatusIcon& icon) = 0;
    virtual void setMenu(std::function<std::vector<MenuItem>()> build) = 0;
};

// The first-run, about and privacy windows.
class SetupWindowsPort {
  public:
    virtual ~SetupWindowsPort() = default;
    virtual void showOnboarding(InstallerHandle& installer) = 0;
    virtual void closeOnboarding() = 0;
    virtual void showAbout(std::optional<std::string> engineVersion) = 0;
    virtual void showPrivacy() = 0;
};

}  // namespace zavren
