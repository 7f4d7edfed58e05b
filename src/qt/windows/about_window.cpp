#include "qt/windows/about_window.h"

#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

#include "qt/windows/window_parts.h"
#include "qt/windows/window_style.h"

namespace zavren::qt {

namespace {

QPixmap loadLogo(const std::vector<std::string>& candidates, int width, qreal ratio) {
    for (const auto& path : candidates) {
        QImageReader reader(qstr(path));
        QImage image = reader.read();
        if (image.isNull() || image.width() <= 0) continue;
        // Scaled to the width, aspect ratio kept, drawn sharp on high-density screens.
        QImage scaled =
            image.scaledToWidth(static_cast<int>(width * ratio), Qt::SmoothTransformation);
        QPixmap pixmap = QPixmap::fromImage(scaled);
        pixmap.setDevicePixelRatio(ratio);
        return pixmap;
    }
    return {};
}

}  // namespace

AboutWindow::AboutWindow(const AboutModel& m, AboutActions actions)
    : FixedWidthWindow(qstr(ABOUT_TITLE), WIDTH) {
    auto* root = new QWidget;
    auto* v = new QVBoxLayout(root);
    v->setContentsMargins(26, 26, 26, 26);
    v->setSpacing(10);

    QPixmap logo = loadLogo(m.logoCandidates, m.logoWidth, devicePixelRatioF());
    if (!logo.isNull()) {
        hasLogo_ = true;
        auto* image = new QLabel;
        image->setObjectName(QStringLiteral("logo"));
        image->setPixmap(logo);
        v->addWidget(image, 0, Qt::AlignHCenter);
    }

    auto* name = new QHBoxLayout;
    name->setSpacing(6);
    name->addStretch(1);
    name->addWidget(styledLabel(m.name), 0, Qt::AlignVCenter);
    name->addWidget(styledLabel(m.suffix), 0, Qt::AlignVCenter);
    name->addStretch(1);
    v->addLayout(name);

    for (const Styled* text : {&m.tagline, &m.motto, &m.versionLine}) {
        QLabel* label = styledLabel(*text);
        label->setAlignment(Qt::AlignHCenter);
        v->addWidget(label, 0, Qt::AlignHCenter);
    }
    v->addWidget(divider(m.dividerWidth), 0, Qt::AlignHCenter);

    v->addWidget(linkLabel(m.privacyButton, std::move(actions.showPrivacy)), 0, Qt::AlignHCenter);

    auto* contact = new QVBoxLayout;
    contact->setSpacing(4);
    contact->addWidget(styledLabel(m.copyright), 0, Qt::AlignHCenter);
    contact->addWidget(linkLabel(m.contact, std::move(actions.copyContact), qstr(COPY_ADDRESS_TIP)),
                       0, Qt::AlignHCenter);
    v->addLayout(contact);

    setContent(root);
}

}  // namespace zavren::qt
