#include "qt/qt_defaults.h"

#include <QDir>

namespace zavren {

namespace {

// INI files keep no types, so a Boolean is written as a tagged text and a string
// that happens to read "true" stays a string.
const QString BOOL_TRUE = QStringLiteral("bool:true");
const QString BOOL_FALSE = QStringLiteral("bool:false");
const QString STRING_TAG = QStringLiteral("str:");

QString keyOf(const std::string& key) {
    return QString::fromStdString(key);
}

}  // namespace

QtDefaults::QtDefaults(const std::string& configDir) {
    QDir().mkpath(QString::fromStdString(configDir));
    settings_ = std::make_unique<QSettings>(QString::fromStdString(configDir) + "/settings.ini",
                                            QSettings::IniFormat);
}

std::optional<bool> QtDefaults::boolValue(const std::string& key) {
    std::lock_guard lock(mutex_);
    settings_->sync();  // another process (the command line) may have written it
    const QString v = settings_->value(keyOf(key)).toString();
    if (v == BOOL_TRUE) return true;
    if (v == BOOL_FALSE) return false;
    return std::nullopt;
}

void QtDefaults::setBool(const std::string& key, bool value) {
    std::lock_guard lock(mutex_);
    settings_->setValue(keyOf(key), value ? BOOL_TRUE : BOOL_FALSE);
    settings_->sync();
}

std::optional<std::string> QtDefaults::stringValue(const std::string& key) {
    std::lock_guard lock(mutex_);
    settings_->sync();
    const QString v = settings_->value(keyOf(key)).toString();
    if (!v.startsWith(STRING_TAG)) return std::nullopt;
    return v.mid(STRING_TAG.size()).toStdString();
}

void QtDefaults::setString(const std::string& key, const std::string& value) {
    std::lock_guard lock(mutex_);
    settings_->setValue(keyOf(key), STRING_TAG + QString::fromStdString(value));
    settings_->sync();
}

std::string QtDefaults::fileName() const {
    std::lock_guard lock(mutex_);
    return settings_->fileName().toStdString();
}

}  // namespace zavren
