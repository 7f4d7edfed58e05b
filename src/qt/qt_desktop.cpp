#include "qt/qt_desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>

namespace zavren {

void QtDesktop::openUrl(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

void QtDesktop::activate() {
    // A tray program has no window of its own; bringing it forward means raising
    // whatever window it shows right now.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || w->testAttribute(Qt::WA_ShowWithoutActivating)) continue;
        if (w->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus)) continue;
        w->raise();
        w->activateWindow();
    }
}

int QtDesktop::runAlert(const Alert& alert) {
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("ZAVREN"));
    box.setIcon(QMessageBox::NoIcon);
    box.setText(QString::fromStdString(alert.message));
    if (!alert.informative.empty())
        box.setInformativeText(QString::fromStdString(alert.informative));
    std::vector<QPushButton*> buttons;
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
        auto role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        buttons.push_back(box.addButton(QString::fromStdString(alert.buttons[i]), role));
    }
    if (buttons.empty())
        buttons.push_back(box.addButton(QStringLiteral("好"), QMessageBox::AcceptRole));
    box.setDefaultButton(buttons.front());
    // Escape must never pick the first (confirming) button when there is a choice.
    box.setEscapeButton(buttons.back());
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
    auto* clicked = box.clickedButton();
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (buttons[i] == clicked) return i < alert.buttons.size() ? static_cast<int>(i) : -1;
    }
    return -1;
}

void QtDesktop::openAccessibilitySettings() {
    // X11 has no per-program input permission; the nearest thing is the desktop's
    // accessibility page, where there is one.
    struct Candidate {
        const char* program;
        QStringList args;
    };
    const Candidate candidates[] = {
        {"gnome-control-center", {QStringLiteral("universal-access")}},
        {"systemsettings", {QStringLiteral("kcm_access")}},
        {"xfce4-accessibility-settings", {}},
    };
    for (const auto& c : candidates) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(c.program));
        if (path.isEmpty()) continue;
        QProcess::startDetached(path, c.args);
        return;
    }
}

}  // namespace zavren
