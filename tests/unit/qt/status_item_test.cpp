// The tray icon's drawn looks, on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>

#include "qt/qt_status_item.h"
#include "support/qt_app.h"

namespace zavren {
namespace {

// The colour of the icon's most opaque pixel at 1x.
QRgb inkOf(const QSystemTrayIcon& tray) {
    const QImage image = tray.icon().pixmap(QSize(23, 15), 1.0).toImage();
    QColor best(0, 0, 0, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).alpha() > best.alpha()) best = image.pixelColor(x, y);
    return best.rgb();
}

void setTextColour(QColor c) {
    QPalette p = QApplication::palette();
    p.setColor(QPalette::WindowText, c);
    QApplication::setPalette(p);
    QCoreApplication::processEvents();
}

TEST(QtStatusItem, LooksAreRedrawnWhenThePaletteChangesEvenOnceDrawnBefore) {
    test::QtApp<QApplication> qt;
    setTextColour(QColor(20, 20, 20));
    QtStatusItem item;
    const StatusIcon normal{StatusIcon::Tint::black, true};
    item.show(normal);
    EXPECT_EQ(inkOf(*item.trayIcon()), QColor(20, 20, 20).rgb());
    item.setIcon({StatusIcon::Tint::red, false});
    EXPECT_EQ(inkOf(*item.trayIcon()), QColor(255, 59, 48).rgb());

    // A dark theme arrives mid-recording; the template look drawn earlier is stale.
    setTextColour(QColor(230, 230, 230));
    EXPECT_EQ(inkOf(*item.trayIcon()), QColor(255, 59, 48).rgb());
    item.setIcon(normal);
    EXPECT_EQ(inkOf(*item.trayIcon()), QColor(230, 230, 230).rgb());
    setTextColour(QColor(10, 90, 10));  // redrawn in place while shown
    EXPECT_EQ(inkOf(*item.trayIcon()), QColor(10, 90, 10).rgb());
}

}  // namespace
}  // namespace zavren
