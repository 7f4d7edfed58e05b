// The tray icon's drawn looks, on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>

#include "qt/qt_status_item.h"

namespace zavren {
namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "test_qt";
    static char* argv[] = {name, nullptr};
    static QApplication instance(argc, argv);
    return instance;
}

// The colour of the icon's most opaque pixel at 1x.
QColor inkOf(const QSystemTrayIcon& tray) {
    const QImage image = tray.icon().pixmap(QSize(23, 15), 1.0).toImage();
    QColor best(0, 0, 0, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > best.alpha()) best = c;
        }
    return best;
}

void setTextColour(QColor c) {
    QPalette p = QApplication::palette();
    p.setColor(QPalette::WindowText, c);
    QApplication::setPalette(p);
    QCoreApplication::processEvents();
}

TEST(QtStatusItem, LooksAreRedrawnWhenThePaletteChangesEvenOnceDrawnBefore) {
    app();
    setTextColour(QColor(20, 20, 20));
    QtStatusItem item;
    const StatusIcon normal{StatusIcon::Tint::black, true};
    const StatusIcon recording{StatusIcon::Tint::red, false};
    item.show(normal);
    ASSERT_TRUE(item.trayIcon());
    EXPECT_EQ(inkOf(*item.trayIcon()).rgb(), QColor(20, 20, 20).rgb());
    item.setIcon(recording);
    EXPECT_EQ(inkOf(*item.trayIcon()).rgb(), QColor(255, 59, 48).rgb());

    // A dark theme arrives mid-recording; the template look drawn earlier is stale.
    setTextColour(QColor(230, 230, 230));
    EXPECT_EQ(inkOf(*item.trayIcon()).rgb(), QColor(255, 59, 48).rgb());
    item.setIcon(normal);
    EXPECT_EQ(inkOf(*item.trayIcon()).rgb(), QColor(230, 230, 230).rgb());

    // Showing the template look when the palette changes redraws it in place.
    setTextColour(QColor(10, 90, 10));
    EXPECT_EQ(inkOf(*item.trayIcon()).rgb(), QColor(10, 90, 10).rgb());
}

}  // namespace
}  // namespace zavren
