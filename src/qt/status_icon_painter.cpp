#include "qt/status_icon_painter.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace zavren {

namespace {

// Bars as x, y, width, height with the origin at the bottom left.
struct Bar {
    qreal x, y, w, h;
};
constexpr Bar BARS[] = {{12.5, 5.5, 2, 4}, {15.5, 3, 2, 9}, {18.5, 4.5, 2, 6}};

}  // namespace

QColor tintColor(StatusIcon::Tint tint, QColor templateColor) {
    switch (tint) {
        case StatusIcon::Tint::red:
            return QColor(255, 59, 48);
        case StatusIcon::Tint::orange:
            return QColor(255, 149, 0);
        case StatusIcon::Tint::black:
            break;
    }
    return templateColor;
}

QImage renderStatusIcon(const StatusIcon& icon, qreal dpr, QColor templateColor) {
    const QColor color = icon.isTemplate ? templateColor : tintColor(icon.tint, QColor(Qt::black));
    QImage image(qRound(STATUS_ICON_WIDTH * dpr), qRound(STATUS_ICON_HEIGHT * dpr),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);

    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QFont font;
    font.setPixelSize(13);
    font.setWeight(QFont::Black);
    p.setFont(font);
    p.setPen(color);
    // The letter box starts at the bottom left, as the bars' coordinates do.
    p.drawText(QRectF(0, 0, 12.5, STATUS_ICON_HEIGHT), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Z"));

    p.setPen(Qt::NoPen);
    p.setBrush(color);
    for (const Bar& b : BARS) {
        p.drawRoundedRect(QRectF(b.x, STATUS_ICON_HEIGHT - b.y - b.h, b.w, b.h), 1, 1);
    }
    return image;
}

}  // namespace zavren
