#include "qt/windows/window_style.h"

#include <QApplication>
#include <QStringList>

namespace zavren::qt {

QString qstr(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QFont windowFont(int pixelSize, Weight weight) {
    QFont font = QApplication::font();
    QStringList families = {font.family(), "Noto Sans CJK SC", "WenQuanYi Micro Hei",
                            "WenQuanYi Zen Hei"};
    font.setFamilies(families);
    font.setPixelSize(pixelSize);
    switch (weight) {
        case Weight::regular:
            font.setWeight(QFont::Normal);
            break;
        case Weight::medium:
            font.setWeight(QFont::Medium);
            break;
        case Weight::semibold:
            font.setWeight(QFont::DemiBold);
            break;
        case Weight::bold:
            font.setWeight(QFont::Bold);
            break;
        case Weight::heavy:
            font.setWeight(QFont::ExtraBold);
            break;
    }
    return font;
}

QColor accentColour(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::Highlight);
}

QColor toneColour(Tone tone, const QPalette& palette) {
    switch (tone) {
        case Tone::primary:
            return palette.color(QPalette::WindowText);
        case Tone::secondary: {
            QColor c = palette.color(QPalette::WindowText);
            c.setAlphaF(0.55f);
            return c;
        }
        case Tone::orange:
            return ORANGE;
        case Tone::accent:
            return accentColour(palette);
        case Tone::link:
            return palette.color(QPalette::Link);
    }
    return palette.color(QPalette::WindowText);
}

QLabel* styledLabel(const Styled& styled, QWidget* parent) {
    auto* label = new QLabel(qstr(styled.text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(windowFont(styled.size, styled.weight));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, toneColour(styled.tone, palette));
    label->setPalette(palette);
    // Word wrap also marks the label's height as depending on its width, which is
    // what lets the window fit its height to the text.
    label->setWordWrap(styled.wraps);
    return label;
}

QLabel* linkLabel(const Styled& styled, const QString& href, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFont(windowFont(styled.size, styled.weight));
    const QString colour = toneColour(Tone::link, label->palette()).name();
    label->setTextFormat(Qt::RichText);
    label->setText(QStringLiteral("<a href=\"%1\" style=\"color:%2; text-decoration:none\">%3</a>")
                       .arg(href.toHtmlEscaped(), colour, qstr(styled.text).toHtmlEscaped()));
    label->setOpenExternalLinks(false);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

}  // namespace zavren::qt
