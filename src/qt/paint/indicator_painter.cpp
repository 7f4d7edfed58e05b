#include "qt/paint/indicator_painter.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "qt/paint/head_elide.h"

namespace zavren {

namespace {

constexpr qreal PAD_X = 18;
constexpr qreal PAD_Y = 11;
constexpr qreal RADIUS = 24;
constexpr qreal STACK_SPACING = 7;
constexpr qreal ROW_SPACING = 10;
constexpr qreal BAR_WIDTH = 3.5;
constexpr qreal BAR_SPACING = 3;
constexpr qreal BAR_RADIUS = 2;
constexpr qreal PREVIEW_WIDTH = 396;
constexpr qreal SPINNER_SIZE = 16;
constexpr qreal HOURGLASS_WIDTH = 10;
constexpr qreal BAR_AREA_HEIGHT = 24;
constexpr qreal HOURGLASS_HEIGHT = 14;
constexpr int BAR_ANIMATION_MS = 80;
constexpr qreal ROW_FONT_PX = 13;
constexpr qreal SMALL_FONT_PX = 12;
constexpr int SPINNER_SPOKES = 8;
constexpr int SPINNER_STEP_MS = 80;
constexpr int SHADOW_RINGS = 6;
// The shadow sits this much lower than the capsule and grows by 2 per ring.
constexpr qreal SHADOW_DROP = 4;
// Kept free under the capsule, so the area's edge never cuts the shadow (one more
// pixel for its antialiased rim).
constexpr qreal SHADOW_BELOW = SHADOW_DROP + 2.0 * SHADOW_RINGS + 1;

qreal barsWidth() {
    const auto bars = static_cast<qreal>(std::tuple_size_v<decltype(IndicatorModel::barHeights)>);
    return bars * BAR_WIDTH + (bars - 1) * BAR_SPACING;
}

}  // namespace

IndicatorPainter::IndicatorPainter() {
    rowFont_.setPixelSize(ROW_FONT_PX);
    rowFont_.setWeight(QFont::Medium);
    iconFont_.setPixelSize(SMALL_FONT_PX);
    previewFont_.setPixelSize(SMALL_FONT_PX);
    // Unhinted, as the CJK font asks for anyway: hinted metrics run FreeType's
    // auto-hinter over the whole font at the first measurement, keeping some
    // 2 MB of it resident for the life of the program.
    for (QFont* f : {&rowFont_, &iconFont_, &previewFont_})
        f->setHintingPreference(QFont::PreferNoHinting);
    shown_.fill(IndicatorModel::MIN_BAR_HEIGHT);
    from_ = shown_;
    model_.barHeights = shown_;

    barAnimation_.setDuration(BAR_ANIMATION_MS);
    barAnimation_.setEasingCurve(QEasingCurve::OutCubic);
    barAnimation_.setStartValue(0.0);
    barAnimation_.setEndValue(1.0);
    connect(&barAnimation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        const double t = v.toDouble();
        for (std::size_t i = 0; i < shown_.size(); ++i)
            shown_[i] = from_[i] + (model_.barHeights[i] - from_[i]) * t;
        emit changed();
    });

    // The spinner only turns while it is on screen.
    spinnerTimer_.setInterval(SPINNER_STEP_MS);
    connect(&spinnerTimer_, &QTimer::timeout, this, [this] {
        spinnerStep_ = (spinnerStep_ + 1) % SPINNER_SPOKES;
        emit changed();
    });
}

void IndicatorPainter::setModel(const IndicatorModel& model) {
    // Most state changes (engine, levels while hidden) leave the picture as it is.
    if (model == model_) return;
    const bool barsChanged = model.barHeights != model_.barHeights;
    const QRectF before = capsuleRect();
    const bool previewChanged =
        model.preview != model_.preview || model.showPreview != model_.showPreview;
    model_ = model;
    if (previewChanged) {
        elidedPreview_ = model_.showPreview ? elideHead(QString::fromStdString(model_.preview),
                                                        previewFont_, PREVIEW_WIDTH, 2)
                                            : QString();
    }
    if (barsChanged) {
        from_ = shown_;
        barAnimation_.stop();
        barAnimation_.start();
    }
    if (model_.row == IndicatorModel::Row::transcribing) {
        if (!spinnerTimer_.isActive()) spinnerTimer_.start();
    } else {
        spinnerTimer_.stop();
    }
    if (capsuleRect() != before) emit capsuleChanged();
    emit changed();
}

void IndicatorPainter::settle() {
    barAnimation_.stop();
    if (shown_ == model_.barHeights) return;
    shown_ = model_.barHeights;
    from_ = shown_;
    emit changed();
}

void IndicatorPainter::setComposited(bool composited) {
    if (composited == composited_) return;
    composited_ = composited;
    emit changed();
}

QSizeF IndicatorPainter::rowSize() const {
    QFontMetricsF fm(rowFont_);
    const qreal textWidth = fm.horizontalAdvance(QString::fromStdString(model_.text));
    qreal lead = 0;
    qreal height = fm.height();
    switch (model_.row) {
        case IndicatorModel::Row::bars:
            lead = barsWidth();
            height = std::max(height, IndicatorModel::BAR_ROW_HEIGHT);
            break;
        case IndicatorModel::Row::transcribing:
            lead = SPINNER_SIZE;
            height = std::max(height, SPINNER_SIZE);
            break;
        case IndicatorModel::Row::hint:
            lead = HOURGLASS_WIDTH;
            break;
    }
    const qreal maxWidth = WIDTH - 2 * PAD_X;
    return {std::min(lead + ROW_SPACING + textWidth, maxWidth), height};
}

QRectF IndicatorPainter::capsuleRect() const {
    const QSizeF row = rowSize();
    qreal w = row.width();
    qreal h = row.height();
    const QString& preview = elidedPreview_;
    if (!preview.isEmpty()) {
        const int lines = wrappedLineCount(preview, previewFont_, PREVIEW_WIDTH);
        w = std::max(w, PREVIEW_WIDTH);
        h += STACK_SPACING + lines * QFontMetricsF(previewFont_).lineSpacing();
    }
    w += 2 * PAD_X;
    h += 2 * PAD_Y;
    w = std::min<qreal>(w, WIDTH);
    h = std::min<qreal>(h, HEIGHT - SHADOW_BELOW);
    return {(WIDTH - w) / 2, HEIGHT - SHADOW_BELOW - h, w, h};
}

QPainterPath IndicatorPainter::capsulePath() const {
    QPainterPath path;
    const QRectF r = capsuleRect();
    const qreal radius = std::min(RADIUS, r.height() / 2);
    path.addRoundedRect(r, radius, radius);
    return path;
}

void IndicatorPainter::paint(QPainter& p) const {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);

    const QRectF capsule = capsuleRect();
    const QPainterPath path = capsulePath();
    if (composited_) {
        // A soft shadow below the capsule, built from a few widening outlines.
        for (int i = SHADOW_RINGS; i >= 1; --i) {
            const qreal grow = i * 2.0;
            QPainterPath ring;
            const QRectF r = capsule.adjusted(-grow, -grow + SHADOW_DROP, grow, grow + SHADOW_DROP);
            const qreal radius = std::min(RADIUS + grow, r.height() / 2);
            ring.addRoundedRect(r, radius, radius);
            p.fillPath(ring, QColor(0, 0, 0, static_cast<int>(0.35 * 255 / 10)));
        }
    }
    p.fillPath(path, QColor(0, 0, 0, static_cast<int>(std::lround(0.8 * 255))));
    QPen stroke(QColor(255, 255, 255, static_cast<int>(std::lround(0.14 * 255))));
    stroke.setWidthF(1);
    p.strokePath(path, stroke);

    const QSizeF row = rowSize();
    const QRectF content = capsule.adjusted(PAD_X, PAD_Y, -PAD_X, -PAD_Y);
    const QRectF rowRect(content.center().x() - row.width() / 2, content.top(), row.width(),
                         row.height());
    paintRow(p, rowRect);

    const QString& preview = elidedPreview_;
    if (!preview.isEmpty()) {
        const QRectF area(content.center().x() - PREVIEW_WIDTH / 2,
                          rowRect.bottom() + STACK_SPACING, PREVIEW_WIDTH,
                          content.bottom() - rowRect.bottom() - STACK_SPACING);
        p.setFont(previewFont_);
        p.setPen(QColor(255, 255, 255, static_cast<int>(std::lround(0.92 * 255))));
        p.drawText(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere, preview);
    }
    p.restore();
}

void IndicatorPainter::paintRow(QPainter& p, const QRectF& row) const {
    qreal lead = 0;
    const QRectF leadArea(row.left(), row.top(), row.width(), row.height());
    switch (model_.row) {
        case IndicatorModel::Row::bars:
            lead = barsWidth();
            paintBars(p, QRectF(leadArea.left(), row.center().y() - BAR_AREA_HEIGHT / 2, lead,
                                BAR_AREA_HEIGHT));
            break;
        case IndicatorModel::Row::transcribing:
            lead = SPINNER_SIZE;
            paintSpinner(p, QRectF(leadArea.left(), row.center().y() - SPINNER_SIZE / 2,
                                   SPINNER_SIZE, SPINNER_SIZE));
            break;
        case IndicatorModel::Row::hint:
            lead = HOURGLASS_WIDTH;
            paintHourglass(p, QRectF(leadArea.left(), row.center().y() - HOURGLASS_HEIGHT / 2,
                                     HOURGLASS_WIDTH, HOURGLASS_HEIGHT));
            break;
    }
    const QRectF textRect(row.left() + lead + ROW_SPACING, row.top(),
                          row.width() - lead - ROW_SPACING, row.height());
    p.setFont(rowFont_);
    p.setPen(Qt::white);
    const QString text = QFontMetricsF(rowFont_).elidedText(QString::fromStdString(model_.text),
                                                            Qt::ElideRight, textRect.width());
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);
}

void IndicatorPainter::paintBars(QPainter& p, const QRectF& area) const {
    QLinearGradient gradient(0, 0, 0, 1);
    gradient.setCoordinateMode(QGradient::ObjectMode);
    gradient.setColorAt(0, QColor::fromRgbF(0.36f, 0.78f, 1.0f));
    gradient.setColorAt(1, QColor::fromRgbF(0.2f, 0.55f, 1.0f));
    p.setPen(Qt::NoPen);
    p.setBrush(gradient);
    for (std::size_t i = 0; i < shown_.size(); ++i) {
        const qreal h =
            std::clamp(shown_[i], IndicatorModel::MIN_BAR_HEIGHT, IndicatorModel::BAR_ROW_HEIGHT);
        const qreal x = area.left() + static_cast<qreal>(i) * (BAR_WIDTH + BAR_SPACING);
        p.drawRoundedRect(QRectF(x, area.center().y() - h / 2, BAR_WIDTH, h), BAR_RADIUS,
                          BAR_RADIUS);
    }
}

void IndicatorPainter::paintSpinner(QPainter& p, const QRectF& area) const {
    const QPointF c = area.center();
    for (int i = 0; i < SPINNER_SPOKES; ++i) {
        const int age = (spinnerStep_ - i + SPINNER_SPOKES) % SPINNER_SPOKES;
        QPen pen(QColor(255, 255, 255, 255 - age * 26));
        pen.setWidthF(2);
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        const double a = i * 2 * M_PI / SPINNER_SPOKES;
        p.drawLine(QPointF(c.x() + 3.5 * std::cos(a), c.y() + 3.5 * std::sin(a)),
                   QPointF(c.x() + 7 * std::cos(a), c.y() + 7 * std::sin(a)));
    }
}

void IndicatorPainter::paintHourglass(QPainter& p, const QRectF& a) {
    QPen pen(Qt::white);
    pen.setWidthF(1.2);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const qreal l = a.left() + 1, r = a.right() - 1, t = a.top() + 1.5, b = a.bottom() - 1.5;
    const qreal cx = a.center().x(), cy = a.center().y();
    p.drawLine(QPointF(a.left(), a.top() + 0.6), QPointF(a.right(), a.top() + 0.6));
    p.drawLine(QPointF(a.left(), a.bottom() - 0.6), QPointF(a.right(), a.bottom() - 0.6));
    QPainterPath glass;
    glass.moveTo(l, t);
    glass.lineTo(r, t);
    glass.lineTo(cx + 0.8, cy);
    glass.lineTo(r, b);
    glass.lineTo(l, b);
    glass.lineTo(cx - 0.8, cy);
    glass.closeSubpath();
    p.drawPath(glass);
    // Sand in the lower bulb.
    QPainterPath sand;
    sand.moveTo(cx, cy + 2);
    sand.lineTo(r - 1.2, b - 0.6);
    sand.lineTo(l + 1.2, b - 0.6);
    sand.closeSubpath();
    p.fillPath(sand, Qt::white);
}

}  // namespace zavren
