#include "qt/qt_file_chooser.h"

#include <QDir>
#include <QFileDialog>
#include <QStringList>

namespace zavren {

void QtFileChooser::choose(const FileRequest& request,
                           std::function<void(std::optional<std::string>)> chosen) {
    auto* dialog =
        new QFileDialog(nullptr, QString::fromStdString(request.title), QDir::homePath());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    QStringList filters;
    for (const auto& f : request.filters) filters << QString::fromStdString(f);
    if (!filters.isEmpty()) dialog->setNameFilters(filters);
    // finished() comes once whichever way the dialogue ends.
    QObject::connect(dialog, &QFileDialog::finished, dialog,
                     [dialog, chosen = std::move(chosen)](int result) {
                         const QStringList files = dialog->selectedFiles();
                         std::optional<std::string> path;
                         if (result == QDialog::Accepted && !files.isEmpty())
                             path = files.first().toStdString();
                         if (chosen) chosen(path);
                     });
    dialog->open();
    dialog->raise();
    dialog->activateWindow();
}

}  // namespace zavren
