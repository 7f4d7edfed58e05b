#include <gtest/gtest.h>

#include <QGuiApplication>

#include "qt/paint/indicator_painter.h"

namespace zavren {
namespace {

// A new picture only when the capsule would look different: every Wayland frame costs.
TEST(IndicatorPainter, AsksForAPictureOnlyWhenTheModelChanges) {
    int argc = 1;
    char name[] = "test_qt";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    IndicatorPainter painter;
    int asked = 0;
    QObject::connect(&painter, &IndicatorPainter::changed, [&] { ++asked; });
    IndicatorModel hint;
    hint.text = "引擎启动中…";
    painter.setModel(hint);
    painter.setModel(hint);
    painter.setComposited(false);
    EXPECT_EQ(asked, 1);
}

}  // namespace
}  // namespace zavren
