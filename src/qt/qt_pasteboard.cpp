#include "qt/qt_pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace zavren {

std::optional<std::string> QtPasteboard::string() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data || !data->hasText()) return std::nullopt;
    return data->text().toStdString();
}

void QtPasteboard::clear() {
    values_.clear();
    QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
}

void QtPasteboard::setString(const std::string& value, const std::string& type) {
    values_[type] = value;
    publish();
}

void QtPasteboard::publish() {
    // A QMimeData handed to the clipboard is not re-announced when changed later,
    // so every added type publishes a complete new one.
    auto* data = new QMimeData;
    for (const auto& [type, value] : values_) {
        if (type == PASTEBOARD_STRING_TYPE) {
            data->setText(QString::fromStdString(value));
        } else {
            data->setData(QString::fromStdString(type), QByteArray::fromStdString(value));
        }
    }
    // Transcripts come with the transient marker. The user's own text we put back
    // afterwards carries no hint, so a clipboard manager may keep it once we quit.
    if (values_.count(PASTEBOARD_TRANSIENT_TYPE)) data->setData(PASSWORD_HINT_TYPE, "secret");
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}

}  // namespace zavren
