#pragma once

#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>
#include <array>
#include <memory>

#include "dictation/indicator_model.h"
#include "platform/ui.h"
#include "shared/app_state.h"

namespace zavren {

// The capsule: level bars, spinner or hint, and the preview line, drawn from the
// indicator model. It only paints; the panel decides when it is on screen.
class IndicatorView : public QWidget {
    Q_OBJECT
  public:
    static constexpr int WIDTH = 460;
    static constexpr int HEIGHT = 96;

    explicit IndicatorView(QWidget* parent = nullptr);

    void setModel(const IndicatorModel& model);
    // Without a compositor the window is cut to the capsule and draws no shadow.
    void setComposited(bool composited);
    const IndicatorModel& model() const { return model_; }
    // Where the capsule sits inside the view.
    QRectF capsuleRect() const;
    QPainterPath capsulePath() const;
    // Bars as drawn right now (animated towards the model's heights).
    std::array<double, 7> shownBarHeights() const { return shown_; }
    // Finishes the bar animation at once (for still pictures).
    void settle();

  signals:
    void capsuleChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QSizeF rowSize() const;
    QString previewText() const;
    void paintRow(QPainter& p, const QRectF& row);
    void paintBars(QPainter& p, const QRectF& area);
    void paintSpinner(QPainter& p, const QRectF& area);
    void paintHourglass(QPainter& p, const QRectF& area);

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

// The floating panel: never takes focus, lets clicks through, stays on top.
class QtIndicatorPanel : public IndicatorPanel {
  public:
    explicit QtIndicatorPanel(AppState& st);
    ~QtIndicatorPanel() override;

    void setup() override;
    void show() override;
    void hide() override;

    IndicatorView* view() const { return view_.get(); }
    // Where show() puts the window on the primary screen.
    static QPoint placement(const QRect& screenGeometry);

  private:
    void follow();
    void updateMask();

    AppState& st_;
    std::unique_ptr<IndicatorView> view_;
    // Looked up when the panel appears, not at every change of its shape: that
    // would be an X round trip in the middle of a key release.
    bool composited_ = false;
    AppState::Subscription subscription_;
};

// Whether a compositing manager runs on the X screen (translucency works).
bool compositorRunning();

}  // namespace zavren
