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
    Styled pageNote;      // "完整说明见产品页"
    Styled pageLink;      // the page's address without its scheme
    std::string pageUrl;  // what a click on the link copies
};

// productPage: the configured product page; it is always given over HTTPS.
PrivacyModel privacyModel(const std::string& productPage);
PrivacyModel privacyModel();

}  // namespace zavren
