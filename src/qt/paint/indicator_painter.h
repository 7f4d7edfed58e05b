#pragma once

#include <QFont>
#include <QObject>
#include <QPainterPath>
#include <QRectF>
#include <QTimer>
#include <QVariantAnimation>
#include <array>

#include "dictation/indicator_model.h"

class QPainter;

namespace zavren {

// Draws the capsule (level bars, spinner or hint, and the preview line) from the
// indicator model, for every kind of window that shows it, so they all show the
// same pixels. It owns the bar animation and the spinner and says when a new
// picture is due; it never draws on its own.
class IndicatorPainter : public QObject {
    Q_OBJECT
  public:
    static constexpr int WIDTH = 460;
    static constexpr int HEIGHT = 96;
    // Between the capsule's area and the bottom of the screen: clear of docks and panels.
    static constexpr int BOTTOM_MARGIN = 96;

    IndicatorPainter();

    void setModel(const IndicatorModel& model);
    // Without a compositor the window is cut to the capsule and draws no shadow.
    void setComposited(bool composited);
    const IndicatorModel& model() const { return model_; }
    // Where the capsule sits inside the WIDTH × HEIGHT area.
    QRectF capsuleRect() const;
    QPainterPath capsulePath() const;
    // Bars as drawn right now (animated towards the model's heights).
    std::array<double, 7> shownBarHeights() const { return shown_; }
    // Finishes the bar animation at once (for still pictures).
    void settle();
    // Paints over a transparent WIDTH × HEIGHT area at the painter's origin.
    void paint(QPainter& p) const;

  signals:
    // The picture differs from the last one painted.
    void changed();
    void capsuleChanged();

  private:
    QSizeF rowSize() const;
    void paintRow(QPainter& p, const QRectF& row) const;
    void paintBars(QPainter& p, const QRectF& area) const;
    void paintSpinner(QPainter& p, const QRectF& area) const;
    static void paintHourglass(QPainter& p, const QRectF& area);

    IndicatorModel model_;
    bool composited_ = false;
    QFont rowFont_;
    QFont iconFont_;
    QFont previewFont_;
    std::array<double, 7> from_{};
    std::array<double, 7> shown_{};
    QVariantAnimation barAnimation_;
    QTimer spinnerTimer_;
    int spinnerStep_ = 0;
    QString elidedPreview_;
};

}  // namespace zavren
