#include "setup/about_model.h"

#include "shared/constants.h"
#include "zavren/build_config.h"

namespace zavren {

std::string versionLine(const std::optional<std::string>& engineVersion) {
    std::string line = "v" + APP_VERSION;
    return engineVersion ? line + " · 引擎 " + *engineVersion : line + " · 引擎未安装";
}

AboutModel aboutModel(const std::optional<std::string>& engineVersion,
                      const std::optional<std::string>& resourcesDir) {
    AboutModel m;
    if (resourcesDir && !resourcesDir->empty()) {
        m.logoCandidates.push_back(*resourcesDir + "/" + LOGO_FILE);
    }
    const std::string assets = ZAVREN_ASSETS_DIR;
    if (!assets.empty()) m.logoCandidates.push_back(assets + "/" + LOGO_FILE);

    m.name = Styled{"ZAVREN", 22, Weight::heavy};
    m.suffix = Styled{".AI", 14, Weight::semibold, Tone::secondary};
    m.tagline = Styled{"开发者的本地语音输入 · 公测版", 12, Weight::regular, Tone::secondary};
    m.motto = Styled{"生成的是指令,回车的是人。", 11, Weight::medium, Tone::secondary};
    m.versionLine = Styled{versionLine(engineVersion), 11, Weight::regular, Tone::secondary};
    m.privacyButton = Styled{"隐私说明:你的声音,不出这台电脑", 11, Weight::regular, Tone::link};
    m.copyright = Styled{COPYRIGHT, 11};
    m.contact = Styled{CONTACT, 11, Weight::regular, Tone::link};
    m.contactAddress = CONTACT;
    return m;
}

}  // namespace zavren
