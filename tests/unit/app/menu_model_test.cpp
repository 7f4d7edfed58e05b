#include "app/menu_model.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/status_icon.h"

namespace zavren {
namespace {

// The menu as the user meets it: "H" header, "-" separator, then each row by what it
// does, "~" in front when it cannot be chosen, "[x]"/"[ ]" for a check mark, "keys"
// for the key submenu.
std::string shape(const std::vector<MenuRow>& rows) {
    static const char* const NAMES[] = {
        "none",  "install", "retry", "again",  "ax",        "about", "privacy", "check",   "auto",
        "login", "terms",   "itn",   "reload", "reinstall", "quit",  "hotkey",  "keysetup"};
    std::string out;
    for (const auto& r : rows) {
        if (!out.empty()) out += ' ';
        if (r.kind == MenuItem::Kind::header) out += r.enabled ? "H+" : "H";
        if (r.kind == MenuItem::Kind::separator) out += '-';
        if (r.kind == MenuItem::Kind::submenu) out += "keys";
        if (r.kind != MenuItem::Kind::action) continue;
        if (!r.enabled) out += '~';
        out += NAMES[static_cast<int>(r.action)];
        if (r.checked) out += *r.checked ? "[x]" : "[ ]";
        if (!r.keyEquivalent.empty()) out += "^" + r.keyEquivalent;
    }
    return out;
}

TEST(MenuModel, RowsForTheStateOfTheMoment) {
    const std::string tail = " - about privacy check auto[x] login[ ] terms itn[x] keys ";
    MenuInputs atLogin{true, false, EngineState::starting, false, false, false};
    atLogin.startsAtLogin = true;
    for (auto [name, in, rows] : std::vector<std::tuple<const char*, MenuInputs, std::string>>{
             {"no engine", {}, "H install" + tail + "- quit^q"},
             {"starting from a checkout, untrusted, switches flipped", atLogin,
              "H ~none ax - about privacy check auto[ ] login[x] terms itn[ ] keys - quit^q"},
             {"ready python",
              {true, true, EngineState::ready},
              "H ~none" + tail + "reload reinstall - quit^q"},
             {"ready llama",
              {true, true, EngineState::ready, true, true, true, EngineKind::llama},
              "H ~none" + tail + "reinstall - quit^q"},
             {"ready llama, a failed take kept",
              {true, true, EngineState::ready, true, true, true, EngineKind::llama, true},
              "H ~none again" + tail + "reinstall - quit^q"},
             {"failed",
              {true, true, EngineState::failed},
              "H retry" + tail + "reinstall - quit^q"}}) {
        EXPECT_EQ(shape(menuModel(in)), rows) << name;
    }
    MenuInputs failed{true, true, EngineState::failed};
    failed.engineProblem = "端口被占用";  // a known problem is named on the retry row
    EXPECT_NE(menuModel(failed)[1].title.find("端口被占用"), std::string::npos);
}

// The rows that name the key follow the choice in the platform's words; the
// submenu offers each key once, the chosen one checked.
TEST(MenuModel, TheKeyRowsFollowTheChoiceInThePlatformsWords) {
    for (HotkeyKey key : HOTKEY_KEYS) {
        for (const Wording* w : {&linuxWording(), &macWording()}) {
            MenuInputs in{true, true, EngineState::ready};
            in.hotkey.key = key;
            in.wording = w;
            const auto rows = menuModel(in);
            EXPECT_EQ(rows[1].title, "●  引擎就绪 · " + w->hold(key) + " 说话");
            const auto& keys =
                std::ranges::find(rows, MenuItem::Kind::submenu, &MenuRow::kind)->submenu;
            for (std::size_t i = 0; i < HOTKEY_KEYS.size(); ++i)
                EXPECT_EQ(
                    std::tuple(keys.at(i).hotkey, keys[i].title, keys[i].checked),
                    std::tuple(HOTKEY_KEYS[i], w->keyName(HOTKEY_KEYS[i]), HOTKEY_KEYS[i] == key));
        }
    }
    for (HotkeyKey key : HOTKEY_KEYS)
        EXPECT_EQ(hotkeyFromStored(std::string(storedName(key))), key) << storedName(key);
    for (auto stored : {std::optional<std::string>{}, {"RightCtrl"}})
        EXPECT_EQ(hotkeyFromStored(stored), HotkeyKey::rightAlt);
}

TEST(StatusIcon, RedWhileRecordingElseOrangeOnFailureAndOnlyBlackFollowsTheTheme) {
    using T = StatusIcon::Tint;
    for (auto [engine, recording, tint] : {std::tuple{EngineState::ready, false, T::black},
                                           {EngineState::failed, false, T::orange},
                                           {EngineState::starting, true, T::red},
                                           {EngineState::failed, true, T::red}}) {
        StatusIcon icon = makeStatusIcon(engine, recording);
        EXPECT_EQ(icon.tint, tint) << toString(engine) << recording;
        EXPECT_EQ(icon.isTemplate, tint == T::black);
    }
}

}  // namespace
}  // namespace zavren
