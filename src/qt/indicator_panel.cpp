#include "qt/indicator_panel.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRegion>
#include <QScreen>

#include "x11/compositor.h"

namespace zavren {

IndicatorView::IndicatorView(QWidget* parent) : QWidget(parent) {
    setFixedSize(WIDTH, HEIGHT);
    connect(&painter_, &IndicatorPainter::changed, this, [this] { update(); });
    connect(&painter_, &IndicatorPainter::capsuleChanged, this, &IndicatorView::capsuleChanged);
}

void IndicatorView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(rect(), Qt::transparent);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_.paint(p);
}

QtIndicatorPanel::QtIndicatorPanel(AppState& st) : st_(st) {}

QtIndicatorPanel::~QtIndicatorPanel() = default;

void QtIndicatorPanel::setup() {
    if (view_) return;
    view_ = std::make_unique<IndicatorView>();
    view_->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput |
                          Qt::X11BypassWindowManagerHint | Qt::NoDropShadowWindowHint);
    view_->setAttribute(Qt::WA_ShowWithoutActivating);
    view_->setAttribute(Qt::WA_TranslucentBackground);
    view_->setAttribute(Qt::WA_X11DoNotAcceptFocus);
    view_->setFocusPolicy(Qt::NoFocus);
    view_->setWindowTitle(QStringLiteral("ZAVREN indicator"));
    QObject::connect(view_.get(), &IndicatorView::capsuleChanged, view_.get(),
                     [this] { updateMask(); });
    composited_ = compositorRunning();
    subscription_ = st_.subscribe([this](AppState::Field) { follow(); });
    follow();
    view_->settle();
}

void QtIndicatorPanel::follow() {
    if (view_) view_->setModel(indicatorModel(st_));
}

void QtIndicatorPanel::updateMask() {
    if (!view_) return;
    view_->setComposited(composited_);
    if (composited_) {
        view_->clearMask();
    } else {
        view_->setMask(QRegion(view_->capsulePath().toFillPolygon().toPolygon()));
    }
}

QPoint QtIndicatorPanel::placement(const QRect& g) {
    return {g.x() + (g.width() - IndicatorView::WIDTH) / 2,
            g.y() + g.height() - IndicatorPainter::BOTTOM_MARGIN - IndicatorView::HEIGHT};
}

void QtIndicatorPanel::show() {
    if (!view_) return;
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    view_->move(placement(screen->geometry()));
    composited_ = compositorRunning();
    updateMask();
    view_->show();
    view_->raise();
}

void QtIndicatorPanel::hide() {
    if (view_) view_->hide();
}

bool compositorRunning() {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 && compositorRunning(x11->display());
}

}  // namespace zavren
