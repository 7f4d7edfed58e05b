#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <array>
#include <memory>
#include <vector>

#include "platform/ui.h"

namespace zavren {

// The menu answers its items' key equivalents while it is open.
class StatusMenu : public QMenu {
    Q_OBJECT
  public:
    using QMenu::QMenu;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// The tray icon (StatusNotifierItem or XEmbed, whichever the desktop has) and its
// menu, rebuilt every time it is about to open.
class QtStatusItem : public QObject, public StatusItem {
    Q_OBJECT
  public:
    QtStatusItem();
    ~QtStatusItem() override;

    void show(const StatusIcon& icon) override;
    void setIcon(const StatusIcon& icon) override;
    void setMenu(std::function<std::vector<MenuItem>()> build) override;

    QSystemTrayIcon* trayIcon() const { return tray_.get(); }
    QMenu* menu() const { return menu_.get(); }
    // How many times the menu was rebuilt (for diagnostics and tests).
    int rebuilds() const { return rebuilds_; }

  private:
    void rebuild();
    void addItems(QMenu* menu, const std::vector<MenuItem>& items);
    void render();
    bool eventFilter(QObject* watched, QEvent* event) override;

    std::unique_ptr<StatusMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::function<std::vector<MenuItem>()> build_;
    std::vector<MenuItem> items_;
    std::vector<std::unique_ptr<QMenu>> submenus_;  // of the current build
    StatusIcon icon_;
    bool hasIcon_ = false;
    // Drawn icons by tint and template flag, until the palette changes.
    std::array<QIcon, 6> drawn_;
    int rebuilds_ = 0;
};

}  // namespace zavren
