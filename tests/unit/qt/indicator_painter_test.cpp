#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "qt/paint/indicator_painter.h"
#include "support/qt_app.h"

namespace zavren {
namespace {

// The shadow must fade out inside the area: a window edge would cut it in a hard line.
TEST(IndicatorPainterTest, RedrawsOnlyOnChangeAndTheShadowEndsInsideTheArea) {
    test::QtApp<QGuiApplication> qt;
    IndicatorModel hint;
    hint.row = IndicatorModel::Row::hint;
    hint.text = "引擎启动中…";
    {
        // A new picture only when the capsule would look different: every Wayland frame costs.
        IndicatorPainter painter;
        int asked = 0;
        QObject::connect(&painter, &IndicatorPainter::changed, [&] { ++asked; });
        painter.setModel(hint);
        painter.setModel(hint);
        painter.setComposited(false);
        EXPECT_EQ(asked, 1);
    }
    IndicatorModel tall = hint;
    tall.showPreview = true;
    tall.preview = std::string(400, 'x');
    for (const IndicatorModel& model : {hint, tall}) {
        IndicatorPainter painter;
        painter.setComposited(true);
        painter.setModel(model);
        QImage image(IndicatorPainter::WIDTH, IndicatorPainter::HEIGHT,
                     QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        painter.paint(p);
        p.end();
        const int below = static_cast<int>(painter.capsuleRect().bottom()) + 2;
        ASSERT_LT(below, image.height());
        EXPECT_GT(qAlpha(image.pixel(IndicatorPainter::WIDTH / 2, below)), 0) << "no shadow";
        for (int x = 0; x < image.width(); ++x)
            ASSERT_EQ(qAlpha(image.pixel(x, image.height() - 1)), 0) << model.preview;
    }
}

}  // namespace
}  // namespace zavren
