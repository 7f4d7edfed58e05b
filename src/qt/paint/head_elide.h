#pragma once

#include <QFont>
#include <QString>

namespace zavren {

// The text as it fits in `lines` lines of `width` pixels: whole when it fits,
// otherwise its end with a leading ellipsis (grapheme clusters are never split).
QString elideHead(const QString& text, const QFont& font, qreal width, int lines);

// Lines the text takes when wrapped at `width`.
int wrappedLineCount(const QString& text, const QFont& font, qreal width);

}  // namespace zavren
