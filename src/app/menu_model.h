#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/hotkey_key.h"
#include "platform/ui.h"
#include "platform/wording.h"
#include "shared/types.h"

namespace zavren {

enum class MenuAction {
    none,
    showInstaller,
    retryEngine,
    retryDictation,
    openAXSettings,
    showAbout,
    showPrivacy,
    checkUpdate,
    toggleAutoUpdate,
    toggleAutostart,
    openTerms,
    toggleITN,
    reloadTerms,
    reinstallEngine,
    quit,
    chooseHotkey,
    showHotkeySetup
};

inline const std::string NOT_INSTALLED_ROW = "◌  引擎未安装 — 点此安装";

struct MenuRow {
    MenuItem::Kind kind = MenuItem::Kind::action;
    std::string title;
    std::string subtitle;
    MenuAction action = MenuAction::none;
    bool enabled = true;
    std::optional<bool> checked;
    std::string keyEquivalent;
    HotkeyKey hotkey = HotkeyKey::rightAlt;  // chooseHotkey: the key it picks
    std::vector<MenuRow> submenu{};
    bool operator==(const MenuRow&) const = default;
};

// Everything the menu depends on, read afresh each time it opens.
struct MenuInputs {
    bool engineResolves = false;
    // A downloaded engine lies in the install folder: only then is there something
    // to download again (a registered engine is the user's, never replaced).
    bool engineDownloaded = false;
    EngineState engine = EngineState::starting;
    bool trusted = true;
    bool itnEnabled = true;
    bool autoUpdate = true;
    EngineKind currentKind = EngineKind::python;
    bool canRetryDictation = false;
    // Shown on the engine row when it failed for a known reason.
    std::string engineProblem{};
    bool startsAtLogin = false;
    HotkeyStatus hotkey{};
    const Wording* wording = &platformWording();
};

std::vector<MenuRow> menuModel(const MenuInputs& in);

}  // namespace zavren
