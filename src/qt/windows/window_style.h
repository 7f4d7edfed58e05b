#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QString>
#include <functional>

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
// Text in the link colour that calls clicked on a click or Enter, and never opens
// anything itself; tip: its tooltip, when not empty.
QLabel* linkLabel(const Styled& styled, std::function<void()> clicked, const QString& tip = {},
                  QWidget* parent = nullptr);

}  // namespace zavren::qt
