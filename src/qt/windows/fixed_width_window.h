#pragma once

#include <QVBoxLayout>
#include <QWidget>

namespace zavren::qt {

// A titled, closable window of fixed width whose height follows its content. It
// cannot be resized, minimised or maximised, and closing it only hides it.
class FixedWidthWindow : public QWidget {
  public:
    FixedWidthWindow(const QString& title, int width);

    // Puts the window in the middle of the screen; done once, when it is made.
    void centreOnScreen();

  protected:
    // Replaces the content; the old one goes once the current event is handled, so
    // a button may safely cause the re-render it sits in.
    void setContent(QWidget* content);
    // Fixes the height to what the content needs at the fixed width.
    void fitHeight();

  private:
    int width_;
    QVBoxLayout* outer_;
    QWidget* content_ = nullptr;
};

}  // namespace zavren::qt
