#include "qt/windows/privacy_window.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "qt/windows/window_parts.h"
#include "qt/windows/window_style.h"

namespace zavren::qt {

PrivacyWindow::PrivacyWindow(const PrivacyModel& m, std::function<void()> copyPage)
    : FixedWidthWindow(qstr(PRIVACY_TITLE), WIDTH) {
    auto* root = new QWidget;
    auto* v = new QVBoxLayout(root);
    v->setContentsMargins(24, 24, 24, 24);
    v->setSpacing(14);

    v->addWidget(styledLabel(m.heading));
    for (const auto& row : m.rows) {
        auto* r = new QVBoxLayout;
        r->setSpacing(3);
        r->addWidget(styledLabel(row.label));
        r->addWidget(styledLabel(row.statement));
        v->addLayout(r);
    }
    v->addWidget(divider());

    auto* page = new QHBoxLayout;
    page->setSpacing(4);
    page->addWidget(styledLabel(m.pageNote));
    page->addWidget(linkLabel(m.pageLink, std::move(copyPage), qstr(COPY_ADDRESS_TIP)));
    page->addStretch(1);
    v->addLayout(page);

    setContent(root);
}

}  // namespace zavren::qt
