// Renders the tray icon, its menu, the indicator capsule and the update dialog to
// PNG files for review. On a real X display (tools/screenshots/shell-screenshots.sh
// runs one with a window manager) the dialog is taken with its title bar.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <cstdio>

#include "app/menu_model.h"
#include "app/status_icon.h"
#include "dictation/hints.h"
#include "qt/indicator_panel.h"
#include "qt/qt_desktop.h"
#include "qt/qt_dispatcher.h"
#include "qt/qt_status_item.h"
#include "qt/status_icon_painter.h"
#include "update/app_updater.h"

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

// Answers the update check with a fixed record; nothing is stored or copied.
struct Canned : HttpClient, Defaults, Pasteboard {
    std::string body;
    std::shared_ptr<HttpTask> send(HttpRequest, std::function<void(HttpResponse)> done) override {
        done({200, body, std::nullopt});
        return nullptr;
    }
    std::shared_ptr<HttpTask> stream(HttpRequest, HttpStreamHandlers) override { return nullptr; }
    std::optional<bool> boolValue(const std::string&) override { return std::nullopt; }
    void setBool(const std::string&, bool) override {}
    std::optional<std::string> stringValue(const std::string&) override { return std::nullopt; }
    void setString(const std::string&, const std::string&) override {}
    std::vector<std::string> types() override { return {}; }
    std::optional<std::string> data(const std::string&) override { return std::nullopt; }
    void set(const Formats&, Content) override {}
    void onFetched(std::function<void()>) override {}
};

void settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The menu as it opens with a python engine ready and every optional row present.
bool saveMenu(const QString& dir) {
    MenuInputs in;
    in.engineResolves = true;
    in.engine = EngineState::ready;
    in.engineDownloaded = true;
    in.startsAtLogin = true;
    in.trusted = false;
    QtStatusItem item;
    item.show(makeStatusIcon(in.engine, false));
    item.setMenu([in] {
        std::vector<MenuItem> items;
        for (const MenuRow& r : menuModel(in))
            items.push_back(
                {r.kind, r.title, r.subtitle, r.enabled, r.checked, r.keyEquivalent,
                 r.action == MenuAction::none ? nullptr : std::function<void()>([] {})});
        return items;
    });
    item.menu()->popup(QPoint(40, 40));
    settle(300);
    const bool ok = save(item.menu()->grab().toImage(), dir + "/menu.png");
    item.menu()->close();
    return ok;
}

// The check's three answers: a new version, none, no answer. With a window manager
// the frame is part of the picture: the title must fit in it.
bool saveUpdateDialogs(const QString& dir) {
    QtDispatcher dispatcher;
    QtDesktop desktop;
    Canned http;
    AppUpdater updater(dispatcher, http, desktop, http, http, "https://downloads.invalid");
    bool ok = true;
    for (auto [name, body] : {std::pair{"new", R"({"version":"0.13.0","url":"https://x.invalid"})"},
                              {"latest", R"({"version":"0.12.0","url":"https://x.invalid"})"},
                              {"failed", ""}}) {
        http.body = body;
        updater.check(true);
        settle(700);
        QMessageBox* box = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) box = b;
        }
        if (!box) {
            std::fprintf(stderr, "no update dialog for %s\n", name);
            ok = false;
            continue;
        }
        QScreen* screen = box->screen();
        const bool framed = QGuiApplication::platformName() == QLatin1String("xcb") && screen;
        // The window manager frames the box a moment after it is mapped.
        for (int i = 0; framed && i < 40 && box->frameGeometry() == box->geometry(); ++i)
            settle(50);
        const QRect f = box->frameGeometry();
        const QPixmap shot =
            framed ? screen->grabWindow(0, f.x(), f.y(), f.width(), f.height()) : box->grab();
        ok &= save(shot.toImage(), QStringLiteral("%1/update-%2.png").arg(dir, name));
        box->close();
        settle(100);
    }
    return ok;
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
    ok &= saveMenu(dir);
    ok &= saveUpdateDialogs(dir);
    return ok ? 0 : 1;
}
