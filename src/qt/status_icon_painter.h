#pragma once

#include <QColor>
#include <QImage>

#include "platform/ui.h"

namespace zavren {

// The tray icon: a heavy "Z" and three rounded bars in one colour, 23 x 15
// logical pixels, rendered at the given device pixel ratio.
inline constexpr int STATUS_ICON_WIDTH = 23;
inline constexpr int STATUS_ICON_HEIGHT = 15;

// templateColor is what a template (theme-following) icon is drawn in.
QImage renderStatusIcon(const StatusIcon& icon, qreal devicePixelRatio, QColor templateColor);

QColor tintColor(StatusIcon::Tint tint, QColor templateColor);

}  // namespace zavren
