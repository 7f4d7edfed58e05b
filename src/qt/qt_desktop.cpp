#include "qt/qt_desktop.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QWidget>
#include <memory>
#include <utility>

namespace zavren {

namespace {
constexpr int ALERT_MIN_WIDTH = 340;
constexpr qint64 MAX_ID_BYTES = 4096;
constexpr qint64 MAX_ENTRY_BYTES = 256 * 1024;
}  // namespace

void QtDesktop::openFile(const std::string& path, std::function<void(bool)> opened) {
    const QString file = QString::fromStdString(path);
    const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    // The toolkit's own fallback may hand the file to a web browser: without the
    // desktop's opener, the caller names the file instead.
    if (xdgOpen.isEmpty()) {
        if (opened) opened(false);
        return;
    }
    // xdg-open starts happily and then finds no application for the file: only its
    // exit status tells. It may also wait for the editor to close, so it runs on its
    // own; without a parent it is never killed when the program quits.
    auto* process = new QProcess;
    auto report = std::make_shared<std::function<void(bool)>>(std::move(opened));
    auto finish = [process, report](bool ok) {
        if (*report) std::exchange(*report, nullptr)(ok);
        process->deleteLater();
    };
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [finish](QProcess::ProcessError e) {
                         if (e == QProcess::FailedToStart) finish(false);
                     });
    QObject::connect(process, &QProcess::finished, process,
                     [finish](int code, QProcess::ExitStatus status) {
                         finish(status == QProcess::NormalExit && code == 0);
                     });
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(xdgOpen, {file});
}

void QtDesktop::defaultHandler(const std::string& mimeType,
                               std::function<void(std::optional<DesktopHandler>)> answer) {
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty()) {
        if (answer) answer(std::nullopt);
        return;
    }
    auto* process = new QProcess;
    auto report =
        std::make_shared<std::function<void(std::optional<DesktopHandler>)>>(std::move(answer));
    auto finish = [process, report](std::optional<DesktopHandler> handler) {
        if (*report) std::exchange(*report, nullptr)(std::move(handler));
        process->deleteLater();
    };
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [finish](QProcess::ProcessError e) {
                         if (e == QProcess::FailedToStart) finish(std::nullopt);
                     });
    QObject::connect(
        process, &QProcess::finished, process, [process, finish](int code, QProcess::ExitStatus) {
            // One line names the entry; anything longer is not an answer.
            const QString id =
                QString::fromUtf8(process->read(MAX_ID_BYTES)).section('\n', 0, 0).trimmed();
            if (code != 0 || id.isEmpty() || !id.endsWith(QStringLiteral(".desktop")) ||
                id.contains('/')) {
                finish(std::nullopt);
                return;
            }
            DesktopHandler handler{id.toStdString(), {}};
            const QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, id);
            // A FIFO in its place would block the read: regular files only.
            if (!path.isEmpty() && QFileInfo(path).isFile()) {
                QFile file(path);
                if (file.open(QIODevice::ReadOnly))
                    handler.entry = file.read(MAX_ENTRY_BYTES).toStdString();
            }
            finish(handler);
        });
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"),
                             QString::fromStdString(mimeType)});
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

void QtDesktop::showAlert(const Alert& alert, std::function<void(int)> answered) {
    auto* box = new QMessageBox;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QStringLiteral("ZAVREN"));
    box->setIcon(QMessageBox::NoIcon);
    box->setText(QString::fromStdString(alert.message));
    if (!alert.informative.empty())
        box->setInformativeText(QString::fromStdString(alert.informative));
    // Texts may come from a server: as markup a link in them would open a browser.
    // Plain and selectable, an address shown can be copied by hand.
    for (QLabel* label : box->findChildren<QLabel*>()) {
        label->setOpenExternalLinks(false);
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    std::vector<QPushButton*> buttons;
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
        auto role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        buttons.push_back(box->addButton(QString::fromStdString(alert.buttons[i]), role));
    }
    const std::size_t given = buttons.size();
    if (buttons.empty())
        buttons.push_back(box->addButton(QStringLiteral("好"), QMessageBox::AcceptRole));
    box->setDefaultButton(buttons.front());
    // Escape must never pick the first (confirming) button when there is a choice.
    box->setEscapeButton(buttons.back());
    // A box as narrow as its shortest sentence leaves the window manager no room for
    // the title ("ZA… EN") and breaks short sentences mid-phrase.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
        grid->addItem(new QSpacerItem(ALERT_MIN_WIDTH, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, buttons, given, answered = std::move(answered)](int) {
                         int chosen = -1;
                         for (std::size_t i = 0; i < given; ++i) {
                             if (buttons[i] == box->clickedButton()) chosen = static_cast<int>(i);
                         }
                         if (answered) answered(chosen);
                     });
    box->show();
    box->raise();
    box->activateWindow();
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
