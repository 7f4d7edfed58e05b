#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/menu_model.h"
#include "app/services.h"
#include "platform/platform.h"
#include "shared/app_state.h"
#include "shared/paths.h"

namespace zavren {

inline const std::string PRIVACY_HINT_KEY = "zavren.privacy.hint.v1";
inline const std::string PRIVACY_HINT = "你的声音,不出这台电脑——隐私说明见菜单栏";

// The application delegate: start-up, termination, the status icon and the menu's
// commands. Create it with std::make_shared; callbacks hold it weakly.
class Zavren : public std::enable_shared_from_this<Zavren> {
  public:
    Zavren(Platform& platform, Paths paths, AppState& st, Services services);

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    // True once start-up got past the single-instance rule.
    bool launched() const { return launched_; }

    // The menu as it reads right now, and the rows bound to this object's commands.
    std::vector<MenuRow> menuRows();
    std::vector<MenuItem> menuNeedsUpdate();
    void perform(MenuAction action);

    void showInstaller();
    void retryEngine();
    void openAXSettings();
    void showAbout();
    void showPrivacy();
    void checkUpdate();
    void openTerms();
    void toggleITN();
    void reloadTerms();
    void reinstallEngine();
    void quit();

    // Redraws the status icon for the engine state and the recording flag.
    void refreshIcon();

  private:
    bool singleInstance();

    Platform& platform_;
    Paths paths_;
    AppState& st_;
    Services services_;
    bool launched_ = false;
    AppState::Subscription iconFollowsState_;
};

}  // namespace zavren
