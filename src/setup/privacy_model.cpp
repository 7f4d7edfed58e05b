#include "setup/privacy_model.h"

#include "zavren/build_config.h"

namespace zavren {

namespace {

PrivacyRow row(std::string label, std::string statement) {
    return PrivacyRow{Styled{std::move(label), 13, Weight::semibold},
                      Styled{std::move(statement), 12, Weight::regular, Tone::secondary, true}};
}

std::string withoutScheme(const std::string& url) {
    auto at = url.find("://");
    std::string rest = at == std::string::npos ? url : url.substr(at + 3);
    while (!rest.empty() && rest.back() == '/') rest.pop_back();
    return rest;
}

}  // namespace

PrivacyModel privacyModel(const std::string& productPage) {
    PrivacyModel m;
    m.heading = Styled{"你的声音,不出这台电脑", 17, Weight::heavy};
    m.rows = {
        row("识别零联网",
            "转写在本机引擎完成,不与任何外部服务器通信(应用与本机引擎之间走仅限本机的回环接口)。"
            "断开网络照常可用,欢迎用防火墙或抓包工具亲自验证:对外连接数为零。"),
        row("零上传",
            "没有任何服务器收到你的录音或文字,包括我们自己的——架构上就不存在传输这回事。"),
        row("即用即删",
            "录音只为当次转写存在,松开按键后立即从磁盘删除。不保存录音历史,不保存转写记录。"),
        row("不训练", "不用你的声音训练模型。"),
        row("联网仅两种情况",
            "下载或升级语音引擎、检查应用更新。两者都不携带你的任何语音或文字。"
            "自动检查更新可在菜单里关闭。"),
    };
    m.pageNote = Styled{"完整说明见产品页", 11, Weight::regular, Tone::secondary};
    const std::string page = withoutScheme(productPage);
    m.pageLink = Styled{page, 11, Weight::regular, Tone::link};
    // A statement about privacy must not send its reader over plain HTTP.
    m.pageUrl = "https://" + page;
    return m;
}

PrivacyModel privacyModel() {
    return privacyModel(ZAVREN_PRODUCT_PAGE);
}

}  // namespace zavren
