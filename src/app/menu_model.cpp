#include "app/menu_model.h"

namespace zavren {

namespace {

MenuRow item(std::string title, MenuAction action, bool enabled = true) {
    MenuRow r;
    r.title = std::move(title);
    r.action = action;
    r.enabled = enabled;
    return r;
}

MenuRow separator() {
    MenuRow r;
    r.kind = MenuItem::Kind::separator;
    r.enabled = false;
    return r;
}

MenuRow engineRow(const MenuInputs& in) {
    if (!in.engineResolves) return item(NOT_INSTALLED_ROW, MenuAction::showInstaller);
    switch (in.engine) {
        // An engine that appeared since: the engine folder's watch is about to start it.
        case EngineState::notInstalled:
        case EngineState::starting:
            return item("○  正在启动引擎…", MenuAction::none, false);
        case EngineState::ready:
            return item("●  引擎就绪 · " + in.wording->hold(in.hotkey.key) + " 说话",
                        MenuAction::none, false);
        case EngineState::failed:
            if (!in.engineProblem.empty())
                return item("⚠  " + in.engineProblem + " — 点此重试", MenuAction::retryEngine);
            break;
    }
    return item("⚠  引擎未启动 — 点此重试", MenuAction::retryEngine);
}

MenuRow hotkeyMenu(const MenuInputs& in) {
    MenuRow menu = item("按键", MenuAction::none);
    menu.kind = MenuItem::Kind::submenu;
    for (HotkeyKey key : HOTKEY_KEYS) {
        MenuRow row = item(in.wording->keyName(key), MenuAction::chooseHotkey);
        row.hotkey = key;
        row.checked = key == in.hotkey.key;
        menu.submenu.push_back(row);
    }
    return menu;
}

}  // namespace

std::vector<MenuRow> menuModel(const MenuInputs& in) {
    std::vector<MenuRow> rows;
    MenuRow header;
    header.kind = MenuItem::Kind::header;
    header.title = "ZAVREN";
    header.subtitle = " .AI";
    header.enabled = false;
    rows.push_back(header);

    rows.push_back(engineRow(in));
    if (const std::string via = hotkeyViaText(in.hotkey.via); !via.empty())
        rows.push_back(item(via, MenuAction::none, false));
    if (!in.trusted) {
        rows.push_back(
            item(std::string(in.wording->pasteAccessMissing), MenuAction::openAXSettings));
    }
    if (in.hotkey.needsSetup)
        rows.push_back(item(std::string(HOTKEY_SETUP_ROW), MenuAction::showHotkeySetup));
    if (in.canRetryDictation) rows.push_back(item("重试上一段", MenuAction::retryDictation));
    rows.push_back(separator());
    rows.push_back(item("关于 ZAVREN.AI", MenuAction::showAbout));
    rows.push_back(item("隐私说明", MenuAction::showPrivacy));
    rows.push_back(item("检查更新…", MenuAction::checkUpdate));
    MenuRow autoUpdate = item("自动检查更新", MenuAction::toggleAutoUpdate);
    autoUpdate.checked = in.autoUpdate;
    rows.push_back(autoUpdate);
    MenuRow atLogin = item("登录时启动", MenuAction::toggleAutostart);
    atLogin.checked = in.startsAtLogin;
    rows.push_back(atLogin);
    rows.push_back(item("术语词典…", MenuAction::openTerms));
    MenuRow itn = item("数字与格式书面化", MenuAction::toggleITN);
    itn.checked = in.itnEnabled;
    rows.push_back(itn);
    rows.push_back(hotkeyMenu(in));
    // Only the python engine reads the terms at start-up; llama gets them per request.
    if (in.engine == EngineState::ready && in.currentKind == EngineKind::python) {
        rows.push_back(item("重载术语词典(重启引擎)", MenuAction::reloadTerms));
    }
    if (in.engineDownloaded) rows.push_back(item("重新下载引擎…", MenuAction::reinstallEngine));
    rows.push_back(separator());
    MenuRow quit = item("退出 ZAVREN", MenuAction::quit);
    quit.keyEquivalent = "q";
    rows.push_back(quit);
    return rows;
}

}  // namespace zavren
