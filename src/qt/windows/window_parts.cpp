#include "qt/windows/window_parts.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "qt/windows/window_style.h"

namespace zavren::qt {

namespace {
constexpr int MARKER = 22;
constexpr int DOT = 7;
constexpr int SPINNER = 16;
constexpr int SPOKES = 8;
constexpr int BAR = 6;
}  // namespace

StepMarker::StepMarker(QString number, bool done, QWidget* parent)
    : QWidget(parent), number_(std::move(number)), done_(done) {
    setFixedSize(MARKER, MARKER);
}

void StepMarker::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor accent = accentColour(palette());
    QColor fill = done_ ? GREEN : accent;
    if (!done_) fill.setAlphaF(0.15f);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawEllipse(QRectF(0, 0, MARKER, MARKER));
    if (done_) {
        QPainterPath tick;
        tick.moveTo(6.5, 11.5);
        tick.lineTo(9.6, 14.6);
        tick.lineTo(15.5, 7.8);
        p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
    } else {
        p.setPen(accent);
        p.setFont(windowFont(12, Weight::bold));
        p.drawText(rect(), Qt::AlignCenter, number_);
    }
}

Dot::Dot(QColor colour, QWidget* parent) : QWidget(parent), colour_(colour) {
    setFixedSize(DOT, DOT);
}

void Dot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colour_);
    p.drawEllipse(QRectF(0, 0, DOT, DOT));
}

Spinner::Spinner(QWidget* parent) : QWidget(parent) {
    setFixedSize(SPINNER, SPINNER);
    timer_.setInterval(90);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % SPOKES;
        update();
    });
}

void Spinner::showEvent(QShowEvent*) {
    timer_.start();
}

void Spinner::hideEvent(QHideEvent*) {
    timer_.stop();
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(SPINNER / 2.0, SPINNER / 2.0);
    QColor base = palette().color(QPalette::WindowText);
    for (int i = 0; i < SPOKES; ++i) {
        // The spoke the animation is on is darkest; the ones behind it fade out.
        int age = (step_ - i + SPOKES) % SPOKES;
        QColor c = base;
        c.setAlphaF(static_cast<float>(0.85 - 0.09 * age));
        p.setPen(QPen(c, 1.8, Qt::SolidLine, Qt::RoundCap));
        p.save();
        p.rotate(360.0 * i / SPOKES);
        p.drawLine(QPointF(0, -3.6), QPointF(0, -7.0));
        p.restore();
    }
}

ThinProgress::ThinProgress(double fraction, QWidget* parent)
    : QWidget(parent), fraction_(std::clamp(fraction, 0.0, 1.0)) {
    setFixedHeight(BAR);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ThinProgress::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const qreal radius = BAR / 2.0;
    QColor groove = palette().color(QPalette::WindowText);
    groove.setAlphaF(0.12f);
    p.setBrush(groove);
    p.drawRoundedRect(QRectF(rect()), radius, radius);
    const qreal filled = fraction_ * width();
    if (filled <= 0) return;
    // Below the bar's height the rounded ends would overlap: clip a full-height
    // capsule instead, so a sliver still shows its true length.
    p.setClipRect(QRectF(0, 0, filled, height()));
    p.setBrush(accentColour(palette()));
    p.drawRoundedRect(QRectF(0, 0, std::max<qreal>(filled, BAR), height()), radius, radius);
}

QFrame* divider(int width, QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::NoFrame);
    line->setFixedHeight(1);
    if (width > 0) line->setFixedWidth(width);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    QColor c = palette.color(QPalette::WindowText);
    c.setAlphaF(0.12f);
    palette.setColor(QPalette::Window, c);
    line->setPalette(palette);
    return line;
}

}  // namespace zavren::qt
