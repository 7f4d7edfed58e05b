#pragma once

#include <QWidget>
#include <array>
#include <memory>

#include "dictation/indicator_model.h"
#include "platform/ui.h"
#include "qt/paint/indicator_painter.h"
#include "shared/app_state.h"

namespace zavren {

// The X11 window of the capsule; the painter draws it.
class IndicatorView : public QWidget {
    Q_OBJECT
  public:
    static constexpr int WIDTH = IndicatorPainter::WIDTH;
    static constexpr int HEIGHT = IndicatorPainter::HEIGHT;

    explicit IndicatorView(QWidget* parent = nullptr);

    void setModel(const IndicatorModel& model) { painter_.setModel(model); }
    void setComposited(bool composited) { painter_.setComposited(composited); }
    const IndicatorModel& model() const { return painter_.model(); }
    QRectF capsuleRect() const { return painter_.capsuleRect(); }
    QPainterPath capsulePath() const { return painter_.capsulePath(); }
    std::array<double, 7> shownBarHeights() const { return painter_.shownBarHeights(); }
    void settle() { painter_.settle(); }

  signals:
    void capsuleChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    IndicatorPainter painter_;
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
