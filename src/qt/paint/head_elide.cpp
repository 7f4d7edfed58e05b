#include "qt/paint/head_elide.h"

#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QTextOption>
#include <vector>

namespace zavren {

int wrappedLineCount(const QString& text, const QFont& font, qreal width) {
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    int count = 0;
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        ++count;
    }
    layout.endLayout();
    return count;
}

QString elideHead(const QString& text, const QFont& font, qreal width, int lines) {
    if (wrappedLineCount(text, font, width) <= lines) return text;
    std::vector<int> starts;  // grapheme boundaries after the first character
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (int pos = finder.toNextBoundary(); pos > 0 && pos < text.size();
         pos = finder.toNextBoundary()) {
        starts.push_back(pos);
    }
    const QString ellipsis = QStringLiteral("…");
    // The fewer characters cut, the more lines: find the smallest cut that fits.
    std::size_t lo = 0;
    std::size_t hi = starts.size();
    while (lo < hi) {
        std::size_t mid = (lo + hi) / 2;
        if (wrappedLineCount(ellipsis + text.mid(starts[mid]), font, width) <= lines) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    if (lo >= starts.size()) return ellipsis;
    return ellipsis + text.mid(starts[lo]);
}

}  // namespace zavren
