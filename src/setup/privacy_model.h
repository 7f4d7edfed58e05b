#pragma once

#include <string>
#include <vector>

#include "setup/text_style.h"

namespace zavren {

// A bold label above its grey statement.
struct PrivacyRow {
    Styled label;
    Styled statement;
};

struct PrivacyModel {
    Styled heading;
    std::vector<PrivacyRow> rows;
    Styled pageNote;  // "完整说明见产品页"
    Styled pageLink;  // the page's address without its scheme
    std::string pageUrl;
};

// productPage: the configured product page; it is always opened over HTTPS.
PrivacyModel privacyModel(const std::string& productPage);
PrivacyModel privacyModel();

}  // namespace zavren
