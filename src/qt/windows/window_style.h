#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QString>

#include "setup/text_style.h"

namespace zavren::qt {

inline const QColor GREEN(52, 199, 89);
inline const QColor ORANGE(255, 149, 0);

QString qstr(const std::string& s);

// The system font at the given pixel size, falling back to a CJK font for the
// Chinese glyphs.
QFont windowFont(int pixelSize, Weight weight = Weight::regular);
QColor accentColour(const QPalette& palette);
QColor toneColour(Tone tone, const QPalette& palette);

// A plain-text label (never rich text: installer messages are shown verbatim).
QLabel* styledLabel(const Styled& styled, QWidget* parent = nullptr);
// A label that shows one link in the link colour and reports clicks through
// linkActivated instead of opening anything itself.
QLabel* linkLabel(const Styled& styled, const QString& href, QWidget* parent = nullptr);

}  // namespace zavren::qt
