#include "qt/windows/fixed_width_window.h"

#include <QGuiApplication>
#include <QScreen>

#include "qt/windows/window_style.h"

namespace zavren::qt {

FixedWidthWindow::FixedWidthWindow(const QString& title, int width)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      width_(width),
      outer_(new QVBoxLayout(this)) {
    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_QuitOnClose, false);
    outer_->setContentsMargins(0, 0, 0, 0);
    outer_->setSpacing(0);
    setFont(windowFont(13));
}

void FixedWidthWindow::setContent(QWidget* content) {
    if (content_) {
        outer_->removeWidget(content_);
        content_->hide();
        content_->deleteLater();
    }
    content_ = content;
    outer_->addWidget(content_);
    // A layout counts only visible, polished widgets; without this the height would
    // be measured on the previous content.
    content_->show();
    content_->ensurePolished();
    fitHeight();
}

void FixedWidthWindow::fitHeight() {
    outer_->invalidate();
    outer_->activate();
    int height = outer_->hasHeightForWidth() ? outer_->totalHeightForWidth(width_)
                                             : outer_->totalSizeHint().height();
    setFixedSize(width_, height);
}

void FixedWidthWindow::centreOnScreen() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
}

}  // namespace zavren::qt
