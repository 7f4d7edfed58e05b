#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/menu_model.h"
#include "dictation/controller.h"
#include "engine/installer/engine_installer.h"
#include "engine/server_manager.h"
#include "platform/platform.h"
#include "shared/app_state.h"
#include "shared/paths.h"
#include "update/app_updater.h"

namespace zavren {

inline const std::string PRIVACY_HINT_KEY = "zavren.privacy.hint.v1";
inline const std::string PRIVACY_HINT = "你的声音,不出这台电脑——隐私说明见菜单栏";
// A Bool; absent means on.
inline const std::string AUTO_UPDATE_KEY = "zavren.update.auto";

// The first-run window stays up a moment so the user sees the install finish.
inline constexpr Duration ONBOARDING_CLOSE_DELAY = seconds(0.8);
inline constexpr Duration PRIVACY_HINT_DELAY = seconds(2.0);
inline constexpr double PRIVACY_HINT_SECONDS = 5.0;
// Keeps the network quiet while the engine starts.
inline constexpr Duration UPDATE_CHECK_DELAY = seconds(8.0);
inline constexpr int REINSTALL_CONFIRM_BUTTON = 0;

// The subsystems the shell drives.
struct ShellParts {
    std::shared_ptr<ServerManager> server;
    EngineInstaller& installer;
    AppUpdater& updater;
    // The hotkey goes straight to it.
    std::shared_ptr<DictationController> dictation;
    // The running program's absolute path: what the login entry starts.
    std::string program{};
};

// The application delegate: start-up, termination, the status icon and the menu's
// commands. Create it with std::make_shared; callbacks hold it weakly.
class Zavren : public std::enable_shared_from_this<Zavren> {
  public:
    Zavren(Platform& platform, Paths paths, AppState& st, ShellParts parts);

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    // True once start-up got past the single-instance rule.
    bool launched() const { return launched_; }

    std::vector<MenuItem> menuNeedsUpdate();
    void perform(MenuAction action);
    // Stored, and the monitor listens for it at once.
    void chooseHotkey(HotkeyKey key);

  private:
    bool singleInstance();
    void showStatusItem();
    void installInputs();
    void startEngine();
    void stopAll();
    MenuInputs menuInputs();
    MenuItem menuItem(const MenuRow& row);
    void showHotkeySetup();
    void reinstallEngine();
    void reinstallConfirmed();
    void toggleAutostart();
    void tell(const std::string& message, const std::string& informative);

    Platform& platform_;
    Paths paths_;
    AppState& st_;
    ShellParts parts_;
    bool launched_ = false;
    AppState::Subscription iconFollowsState_;
    InstallerHandle::Subscription failuresLogged_;
};

}  // namespace zavren
