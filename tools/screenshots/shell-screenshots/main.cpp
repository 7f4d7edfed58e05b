// Renders the tray icon and the indicator capsule to PNG files for review.
#include <QApplication>
#include <QDir>
#include <QPainter>
#include <cstdio>

#include "app/status_icon.h"
#include "dictation/hints.h"
#include "qt/indicator_panel.h"
#include "qt/status_icon_painter.h"

using namespace zavren;

namespace {

// The capsule over a busy background, so its translucency shows.
QImage onBackdrop(IndicatorView& view) {
    const QPixmap capsule = view.grab();
    QImage out(capsule.size(), QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(capsule.devicePixelRatio());
    QPainter p(&out);
    QLinearGradient g(0, 0, view.width(), view.height());
    g.setColorAt(0, QColor(236, 240, 245));
    g.setColorAt(1, QColor(120, 150, 190));
    p.fillRect(QRect(QPoint(0, 0), view.size()), g);
    p.setPen(QColor(40, 40, 40));
    for (int y = 0; y < view.height(); y += 18)
        p.drawText(6, y + 14, "The document underneath 底下的文档");
    p.drawPixmap(0, 0, capsule);
    return out;
}

bool save(const QImage& image, const QString& path) {
    if (!image.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(dir);
    bool ok = true;

    struct IconCase {
        const char* name;
        EngineState engine;
        bool recording;
    };
    const IconCase icons[] = {{"black", EngineState::ready, false},
                              {"red", EngineState::ready, true},
                              {"orange", EngineState::failed, false}};
    for (const auto& c : icons) {
        const StatusIcon icon = makeStatusIcon(c.engine, c.recording);
        // Template icons take the panel's text colour: dark on a light panel, light on a dark one.
        for (bool dark : {false, true}) {
            const QColor panel = dark ? QColor(40, 40, 40) : QColor(235, 235, 235);
            const QColor text = dark ? QColor(240, 240, 240) : QColor(20, 20, 20);
            QImage glyph = renderStatusIcon(icon, 8, text);
            QImage out(glyph.width() + 64, glyph.height() + 64,
                       QImage::Format_ARGB32_Premultiplied);
            out.fill(panel);
            QPainter p(&out);
            p.drawImage(32, 32, glyph);
            p.end();
            ok &= save(
                out, QStringLiteral("%1/tray-%2-%3.png").arg(dir, c.name, dark ? "dark" : "light"));
        }
    }

    AppState st;
    QtIndicatorPanel panel(st);
    panel.setup();
    IndicatorView& view = *panel.view();
    view.setComposited(true);
    for (double level : {0.0, 0.3, 0.9, 1.0, 0.55, 0.2, 0.7}) st.pushLevel(level);

    st.setState(RecState::listening);
    view.settle();
    ok &= save(onBackdrop(view), dir + "/panel-listening.png");

    st.setPreview(
        "今天下午三点在三楼会议室开会,讨论第二季度的预算安排,请大家提前准备好各自部门的数据"
        "和报告,会议预计持续一个半小时,结束后还有一个简短的问答环节,欢迎提问");
    view.settle();
    ok &= save(onBackdrop(view), dir + "/panel-listening-preview.png");

    st.setPreview("");
    st.setState(RecState::transcribing);
    ok &= save(onBackdrop(view), dir + "/panel-transcribing.png");

    st.setHint(HINT_PASTE_BY_HAND);
    ok &= save(onBackdrop(view), dir + "/panel-hint.png");

    view.setComposited(false);
    st.setHint("引擎启动中…");
    ok &= save(onBackdrop(view), dir + "/panel-hint-short-no-compositor.png");
    return ok ? 0 : 1;
}
