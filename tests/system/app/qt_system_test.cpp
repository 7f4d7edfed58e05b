// The tray icon and its menu on the test desktop (Xvfb, openbox, trayer), driven
// by xdotool like a user would.
#include <gtest/gtest.h>
// keep
#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>
#include <cstring>
#include <memory>

#include "desktop/desktop_env.h"
#include "qt/qt_status_item.h"
#include "support/qt_app.h"
#include "system_util.h"

namespace zavren {
namespace {

using namespace std::chrono_literals;
using systest::sh;
using systest::shOut;
using systest::waitFor;

// "X Y" of a window's centre on the screen, empty while it is not on screen.
std::string trayIconCentre(WId id) {
    const std::string out = shOut("xdotool getwindowgeometry --shell " + std::to_string(id));
    int x = -1, y = -1, w = 0, h = 0;
    if (std::sscanf(out.c_str(), "WINDOW=%*d X=%d Y=%d WIDTH=%d HEIGHT=%d", &x, &y, &w, &h) != 4 ||
        x < 0 || y < 0 || w <= 1)
        return {};
    return std::to_string(x + w / 2) + " " + std::to_string(y + h / 2);
}

std::vector<std::string> titles(QMenu* menu) {
    std::vector<std::string> out;
    for (QAction* a : menu->actions())
        if (!a->isSeparator()) out.push_back(a->text().toStdString());
    return out;
}

TEST(QtSystemTest, TrayIconAppearsAndItsMenuIsRebuiltOnEveryOpening) {
    ASSERT_TRUE(desktop::available()) << "needs the test desktop (run through ctest)";
    test::QtApp<QApplication> qt;
    QtStatusItem item;
    int builds = 0;
    int quits = 0;
    item.setMenu([&] {
        std::vector<MenuItem> rows(4);
        rows[0].kind = MenuItem::Kind::header;
        rows[0].title = "ZAVREN";
        rows[0].subtitle = " .AI";
        rows[0].enabled = false;
        rows[1].title = "opening " + std::to_string(++builds);
        rows[1].enabled = builds % 2 == 1;
        rows[2].kind = MenuItem::Kind::separator;
        rows[3].title = "退出 ZAVREN";
        rows[3].keyEquivalent = "q";
        rows[3].choose = [&] { ++quits; };
        return rows;
    });
    item.show(StatusIcon{});
    // Qt's own idea of the icon's place is unreliable once the host has reparented
    // it, so ask the X server where the embedded window really is.
    QWidget* embedded = nullptr;
    ASSERT_TRUE(waitFor(
        [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (qstrcmp(w->metaObject()->className(), "QSystemTrayIconSys") == 0 &&
                    w->isVisible())
                    embedded = w;
            return embedded != nullptr;
        },
        10s))
        << "no tray host embedded the icon";
    std::string at;
    ASSERT_TRUE(waitFor(
        [&] {
            std::string now = trayIconCentre(embedded->winId());
            bool stable = !now.empty() && now == at;
            at = now;
            return stable;
        },
        5s));

    for (int opening = 1; opening <= 2; ++opening) {
        // Press, let the menu open, then release, as a hand does. The host may
        // still be finishing the embedding handshake: press again if nothing opened.
        bool open = false;
        for (int attempt = 0; attempt < 3 && !open; ++attempt) {
            ASSERT_EQ(sh("xdotool mousemove " + at + " mousedown 3"), 0);
            open = waitFor([&] { return item.menu()->isVisible(); }, 2s);
            ASSERT_EQ(sh("xdotool mouseup 3"), 0);
        }
        ASSERT_TRUE(open) << "opening " << opening;
        EXPECT_EQ(builds, opening);
        auto t = titles(item.menu());
        ASSERT_EQ(t.size(), 3u);
        EXPECT_EQ(t[0], "ZAVREN .AI");
        EXPECT_EQ(t[1], "opening " + std::to_string(opening));
        EXPECT_EQ(item.menu()->actions()[1]->isEnabled(), opening == 1);
        if (opening == 1) {
            ASSERT_EQ(sh("xdotool key Escape"), 0);
            ASSERT_TRUE(waitFor([&] { return !item.menu()->isVisible(); }, 5s));
            // The popup's pointer grab ends when the server has unmapped it.
            const std::string menuId = std::to_string(item.menu()->winId());
            ASSERT_TRUE(waitFor(
                [&] {
                    return shOut("xwininfo -id " + menuId + " | grep 'Map State'")
                               .find("IsUnMapped") != std::string::npos;
                },
                5s));
        }
    }
    // The quit item answers "q" while the menu is open.
    ASSERT_EQ(sh("xdotool key q"), 0);
    EXPECT_TRUE(waitFor([&] { return quits == 1; }, 5s));
    EXPECT_FALSE(item.menu()->isVisible());
}

}  // namespace
}  // namespace zavren
