#pragma once

#include <QColor>
#include <QFrame>
#include <QString>
#include <QTimer>
#include <QWidget>

namespace zavren::qt {

// The 22 × 22 circle in front of a step: green with a checkmark when done,
// otherwise a pale accent disc with the step number.
class StepMarker : public QWidget {
  public:
    StepMarker(QString number, bool done, QWidget* parent = nullptr);
    bool done() const { return done_; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QString number_;
    bool done_;
};

// A 7 × 7 status dot.
class Dot : public QWidget {
  public:
    Dot(QColor colour, QWidget* parent = nullptr);
    QColor colour() const { return colour_; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QColor colour_;
};

// A small indeterminate spinner that turns only while it is visible.
class Spinner : public QWidget {
  public:
    explicit Spinner(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;

  private:
    QTimer timer_;
    int step_ = 0;
};

// A thin determinate bar drawn here rather than by the style: some styles give a
// fresh bar a minimum chunk, which showed a fifth done at 0 MB.
class ThinProgress : public QWidget {
  public:
    explicit ThinProgress(double fraction, QWidget* parent = nullptr);
    double fraction() const { return fraction_; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    double fraction_;
};

// A thin horizontal rule; width 0 means the full width of the column.
QFrame* divider(int width = 0, QWidget* parent = nullptr);

}  // namespace zavren::qt
