#pragma once

#include <optional>
#include <string>
#include <vector>

#include "setup/text_style.h"

namespace zavren {

inline const std::string LOGO_FILE = "zavren-logo.png";

struct AboutModel {
    // Where to look for the logo, in order; the first file that loads is shown and
    // without one the window simply starts with the name.
    std::vector<std::string> logoCandidates;
    int logoWidth = 150;
    Styled name;    // "ZAVREN"
    Styled suffix;  // ".AI"
    Styled tagline;
    Styled motto;
    Styled versionLine;
    int dividerWidth = 220;
    Styled privacyButton;
    Styled copyright;
    Styled contact;
    std::string contactAddress;  // what a click on the contact copies
};

// "v0.12.0 · 引擎 1.0", or "v0.12.0 · 引擎未安装" without an engine.
std::string versionLine(const std::optional<std::string>& engineVersion);

// resourcesDir: the installed program's resources folder, when it has one.
AboutModel aboutModel(const std::optional<std::string>& engineVersion,
                      const std::optional<std::string>& resourcesDir);

}  // namespace zavren
