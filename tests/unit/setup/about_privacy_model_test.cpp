#include <gtest/gtest.h>

#include "setup/about_model.h"
#include "setup/privacy_model.h"
#include "shared/constants.h"
#include "zavren/build_config.h"

namespace zavren {
namespace {

TEST(AboutModel, LogoIsLookedForInResourcesFirstThenInTheCheckout) {
    auto withResources = aboutModel(std::nullopt, std::string("/opt/zavren/share"));
    ASSERT_EQ(withResources.logoCandidates.size(), 2u);
    EXPECT_EQ(withResources.logoCandidates[0], "/opt/zavren/share/zavren-logo.png");
    EXPECT_EQ(withResources.logoCandidates[1], std::string(ZAVREN_ASSETS_DIR) + "/zavren-logo.png");
    EXPECT_EQ(aboutModel(std::nullopt, std::nullopt).logoCandidates,
              std::vector<std::string>{std::string(ZAVREN_ASSETS_DIR) + "/zavren-logo.png"});
    EXPECT_EQ(aboutModel(std::nullopt, std::string()).logoCandidates.size(), 1u);
}

TEST(AboutModel, TextsAndVersionLineWithAndWithoutEngine) {
    EXPECT_EQ(versionLine(std::nullopt), "v0.12.0 · 引擎未安装");
    EXPECT_EQ(versionLine("1.0"), "v0.12.0 · 引擎 1.0");
    EXPECT_EQ(aboutModel("2.3.1", std::nullopt).versionLine,
              (Styled{"v0.12.0 · 引擎 2.3.1", 11, Weight::regular, Tone::secondary}));
    auto m = aboutModel(std::nullopt, std::nullopt);
    EXPECT_EQ(m.name, (Styled{"ZAVREN", 22, Weight::heavy}));
    EXPECT_EQ(m.suffix, (Styled{".AI", 14, Weight::semibold, Tone::secondary}));
    EXPECT_EQ(m.tagline.text, "开发者的本地语音输入 · 公测版");
    EXPECT_EQ(m.motto, (Styled{"生成的是指令,回车的是人。", 11, Weight::medium, Tone::secondary}));
    EXPECT_EQ(m.privacyButton,
              (Styled{"隐私说明:你的声音,不出这台电脑", 11, Weight::regular, Tone::link}));
    EXPECT_EQ(m.copyright.text, "© 2026 ZAVREN.AI");
    EXPECT_EQ(m.contact.text, CONTACT);
    EXPECT_EQ(m.contactUrl, "mailto:" + CONTACT);
}

TEST(PrivacyModel, RowsInOrderLabelBoldStatementGreyAndWrapping) {
    auto m = privacyModel("https://zavren.ai/zavren-ai");
    EXPECT_EQ(m.heading, (Styled{"你的声音,不出这台电脑", 17, Weight::heavy}));
    std::vector<std::pair<std::string, std::string>> expected = {
        {"识别零联网",
         "转写在本机引擎完成,不与任何外部服务器通信(应用与本机引擎之间走仅限本机的回环接口)。"
         "断开网络照常可用,欢迎用防火墙或抓包工具亲自验证:对外连接数为零。"},
        {"零上传", "没有任何服务器收到你的录音或文字,包括我们自己的——架构上就不存在传输这回事。"},
        {"即用即删",
         "录音只为当次转写存在,松开按键后立即从磁盘删除。不保存录音历史,不保存转写记录。"},
        {"不训练", "不用你的声音训练模型。"},
        {"联网仅两种情况", "下载或升级语音引擎、检查应用更新。两者都不携带你的任何语音或文字。"},
    };
    ASSERT_EQ(m.rows.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(m.rows[i].label, (Styled{expected[i].first, 13, Weight::semibold}));
        EXPECT_EQ(m.rows[i].statement,
                  (Styled{expected[i].second, 12, Weight::regular, Tone::secondary, true}));
    }
    EXPECT_EQ(m.pageNote.text, "完整说明见产品页");
}

TEST(PrivacyModel, PageLinkShowsNoSchemeAndAlwaysOpensOverHttps) {
    struct Case {
        std::string configured, shown, url;
    };
    for (const auto& c :
         {Case{"https://zavren.ai/zavren-ai", "zavren.ai/zavren-ai", "https://zavren.ai/zavren-ai"},
          Case{"http://example.org/zavren-ai/", "example.org/zavren-ai",
               "https://example.org/zavren-ai"},
          Case{"zavren.ai/zavren-ai", "zavren.ai/zavren-ai", "https://zavren.ai/zavren-ai"}}) {
        auto m = privacyModel(c.configured);
        EXPECT_EQ(m.pageLink.text, c.shown);
        EXPECT_EQ(m.pageLink.tone, Tone::link);
        EXPECT_EQ(m.pageUrl, c.url);
    }
    auto configured = privacyModel().pageUrl;
    EXPECT_EQ(configured.rfind("https://", 0), 0u) << configured;
    EXPECT_NE(configured.find("/zavren-ai"), std::string::npos) << configured;
}

}  // namespace
}  // namespace zavren
