#include "app/menu_model.h"

#include <gtest/gtest.h>

#include "app/status_icon.h"

namespace zavren {
namespace {

using Strings = std::vector<std::string>;

const Strings TAIL = {"",          "关于 ZAVREN.AI", "隐私说明",
                      "检查更新…", "术语词典…",      "数字与格式书面化"};
const std::string RELOAD = "重载术语词典(重启引擎)";
const std::string AX = "⚠  缺「辅助功能」权限,字落不进光标 — 点此授权";

Strings titles(const std::vector<MenuRow>& rows) {
    Strings out;
    for (const auto& r : rows) out.push_back(r.title);
    return out;
}

struct EngineRowCase {
    bool resolves;
    EngineState engine;
    std::string title;
    MenuAction action;
    bool enabled;
};

TEST(MenuModel, EveryCombinationHasTheEngineRowTheFixedFrameAndOnlyTheRightOptionalRows) {
    const EngineRowCase engineRows[] = {
        {false, EngineState::starting, "◌  引擎未安装 — 点此安装", MenuAction::showInstaller, true},
        {false, EngineState::ready, "◌  引擎未安装 — 点此安装", MenuAction::showInstaller, true},
        {false, EngineState::failed, "◌  引擎未安装 — 点此安装", MenuAction::showInstaller, true},
        {true, EngineState::starting, "○  正在启动引擎…", MenuAction::none, false},
        {true, EngineState::ready, "●  引擎就绪 · 按住右 ⌥ 说话", MenuAction::none, false},
        {true, EngineState::failed, "⚠  引擎未启动 — 点此重试", MenuAction::retryEngine, true},
    };
    for (const auto& e : engineRows) {
        for (bool trusted : {false, true}) {
            for (EngineKind kind : {EngineKind::python, EngineKind::llama}) {
                auto rows = menuModel(MenuInputs{e.resolves, e.engine, trusted, true, kind, {}});
                SCOPED_TRACE(e.title + " " + toString(kind) +
                             (trusted ? " trusted" : " untrusted"));

                EXPECT_EQ(rows.front().kind, MenuItem::Kind::header);
                EXPECT_EQ(rows.front().title, "ZAVREN");
                EXPECT_EQ(rows.front().subtitle, " .AI");
                EXPECT_FALSE(rows.front().enabled);
                EXPECT_EQ(rows[1].title, e.title);
                EXPECT_EQ(rows[1].action, e.action);
                EXPECT_EQ(rows[1].enabled, e.enabled);

                Strings t = titles(rows);
                std::size_t i = 2;
                if (!trusted) {
                    EXPECT_EQ(t[i], AX);
                    EXPECT_EQ(rows[i].action, MenuAction::openAXSettings);
                    ++i;
                }
                EXPECT_EQ(Strings(t.begin() + static_cast<long>(i),
                                  t.begin() + static_cast<long>(i + TAIL.size())),
                          TAIL);
                i += TAIL.size();
                if (e.engine == EngineState::ready && kind == EngineKind::python) {
                    EXPECT_EQ(t[i++], RELOAD);
                }
                EXPECT_EQ(Strings(t.begin() + static_cast<long>(i), t.end()),
                          (Strings{"重新下载引擎…", "", "退出 ZAVREN"}));
                EXPECT_EQ(rows[2 + (trusted ? 0 : 1)].kind, MenuItem::Kind::separator);
            }
        }
    }
}

TEST(MenuModel, ActionsEnablingCheckMarkAndKeyEquivalent) {
    MenuInputs in{true, EngineState::ready, true, false, EngineKind::python, {}};
    auto rows = menuModel(in);
    std::vector<std::pair<std::string, MenuAction>> expected = {
        {"关于 ZAVREN.AI", MenuAction::showAbout},      {"隐私说明", MenuAction::showPrivacy},
        {"检查更新…", MenuAction::checkUpdate},         {"术语词典…", MenuAction::openTerms},
        {"数字与格式书面化", MenuAction::toggleITN},    {RELOAD, MenuAction::reloadTerms},
        {"重新下载引擎…", MenuAction::reinstallEngine}, {"退出 ZAVREN", MenuAction::quit},
    };
    for (const auto& [title, action] : expected) {
        auto it = std::find_if(rows.begin(), rows.end(),
                               [&](const MenuRow& r) { return r.title == title; });
        ASSERT_NE(it, rows.end()) << title;
        EXPECT_EQ(it->action, action) << title;
        EXPECT_TRUE(it->enabled) << title;
        EXPECT_EQ(it->keyEquivalent, title == "退出 ZAVREN" ? "q" : "") << title;
        EXPECT_EQ(it->checked.has_value(), title == "数字与格式书面化") << title;
    }
    EXPECT_EQ(rows[7].checked, false);
    in.itnEnabled = true;
    EXPECT_EQ(menuModel(in)[7].checked, true);
}

TEST(MenuModel, EngineRowNamesAKnownFailureAndOffersTheRetry) {
    MenuInputs in{true, EngineState::failed, true, true, EngineKind::llama, "端口被占用"};
    const MenuRow row = menuModel(in)[1];
    EXPECT_NE(row.title.find("端口被占用"), std::string::npos);
    EXPECT_EQ(row.action, MenuAction::retryEngine);
}

TEST(StatusIcon, ColourAndTemplateFlag) {
    struct Case {
        EngineState engine;
        bool recording;
        StatusIcon::Tint tint;
    };
    const Case cases[] = {
        {EngineState::starting, false, StatusIcon::Tint::black},
        {EngineState::ready, false, StatusIcon::Tint::black},
        {EngineState::failed, false, StatusIcon::Tint::orange},
        {EngineState::starting, true, StatusIcon::Tint::red},
        {EngineState::ready, true, StatusIcon::Tint::red},
        {EngineState::failed, true, StatusIcon::Tint::red},
    };
    for (const auto& c : cases) {
        StatusIcon icon = makeStatusIcon(c.engine, c.recording);
        EXPECT_EQ(icon.tint, c.tint) << toString(c.engine) << c.recording;
        EXPECT_EQ(icon.isTemplate, c.tint == StatusIcon::Tint::black);
    }
}

}  // namespace
}  // namespace zavren
