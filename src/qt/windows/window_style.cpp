#include "qt/windows/window_style.h"

#include <QApplication>
#include <QResizeEvent>
#include <QStringList>
#include <QTextBoundaryFinder>
#include <QTextLayout>

namespace zavren::qt {

namespace {

// A last line shorter than this looks like a stray, e.g. a lone "录。".
constexpr int MIN_TAIL = 4;
// How far back a break after punctuation is preferred to one inside a phrase.
constexpr int PUNCTUATION_REACH = 10;

int graphemes(const QString& s) {
    QTextBoundaryFinder f(QTextBoundaryFinder::Grapheme, s);
    int n = 0;
    while (f.toNextBoundary() > 0) ++n;
    return n;
}

bool breaksAfter(QChar c) {
    return c.isSpace() || QStringLiteral(",;:、,;:。!?)」").contains(c);
}

// One paragraph with a line break moved earlier when its last wrapped line would
// hold only a character or two; the number of lines stays the same.
QString withoutStrayTail(const QString& par, const QFont& font, int width) {
    QTextLayout layout(par, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine())
        line.setLineWidth(width);
    layout.endLayout();
    const int n = layout.lineCount();
    if (n < 2) return par;
    const int start = layout.lineAt(n - 1).textStart();
    const int tail = graphemes(par.mid(start));
    if (tail >= MIN_TAIL) return par;

    QTextBoundaryFinder g(QTextBoundaryFinder::Grapheme, par);
    g.setPosition(start);
    for (int i = tail; i < MIN_TAIL && g.toPreviousBoundary() > 0;) ++i;
    int at = g.position();
    // After punctuation reads better than inside a phrase, if it is not too far back.
    g.setPosition(at);
    for (int i = 0; i < PUNCTUATION_REACH && g.position() > 0; ++i) {
        const int here = g.position();
        if (breaksAfter(par.at(here - 1))) {
            at = here;
            break;
        }
        g.toPreviousBoundary();
    }
    const int prevStart = layout.lineAt(n - 2).textStart();
    QFontMetrics metrics(font);
    if (at <= prevStart || metrics.horizontalAdvance(par.mid(at)) > width) return par;
    return par.left(at) + QLatin1Char('\n') + par.mid(at);
}

// Wraps like any label, without leaving a character or two alone on the last line.
class WrappingLabel : public QLabel {
  public:
    explicit WrappingLabel(QString text) : full_(std::move(text)) {
        setText(full_);
        setWordWrap(true);
    }

  protected:
    void resizeEvent(QResizeEvent* event) override {
        const int width = contentsRect().width();
        QStringList paragraphs = full_.split(QLatin1Char('\n'));
        for (QString& p : paragraphs) p = withoutStrayTail(p, font(), width);
        setText(paragraphs.join(QLatin1Char('\n')));
        QLabel::resizeEvent(event);
    }

  private:
    QString full_;
};

}  // namespace

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
    QLabel* label =
        styled.wraps ? new WrappingLabel(qstr(styled.text)) : new QLabel(qstr(styled.text));
    label->setParent(parent);
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

QLabel* linkLabel(const Styled& styled, std::function<void()> clicked, const QString& tip,
                  QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFont(windowFont(styled.size, styled.weight));
    const QString colour = toneColour(Tone::link, label->palette()).name();
    // The anchor only makes the text clickable and focusable; its target is never read.
    label->setTextFormat(Qt::RichText);
    label->setText(QStringLiteral("<a href=\"#\" style=\"color:%1; text-decoration:none\">%2</a>")
                       .arg(colour, qstr(styled.text).toHtmlEscaped()));
    label->setOpenExternalLinks(false);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setCursor(Qt::PointingHandCursor);
    if (!tip.isEmpty()) label->setToolTip(tip);
    QObject::connect(label, &QLabel::linkActivated, label, [clicked = std::move(clicked)] {
        if (clicked) clicked();
    });
    return label;
}

}  // namespace zavren::qt
