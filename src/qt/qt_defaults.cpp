#include "qt/qt_defaults.h"

#include <sys/stat.h>

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

QtDefaults::QtDefaults(const std::string& configDir) : file_(configDir + "/settings.ini") {
    QDir().mkpath(QString::fromStdString(configDir));
    settings_ = std::make_unique<QSettings>(QString::fromStdString(file_), QSettings::IniFormat);
    // The first read loads the file; do it now rather than inside the event loop.
    commit();
}

// Another process (the command line) may have written the file. Syncing takes
// QSettings' file lock, which costs milliseconds: only do it when the file changed.
void QtDefaults::refresh() {
    if (stamp() != seen_) commit();
}

void QtDefaults::commit() {
    settings_->sync();
    seen_ = stamp();
}

QtDefaults::Stamp QtDefaults::stamp() const {
    struct stat st {};
    if (::stat(file_.c_str(), &st) != 0) return {};
    return {st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

std::optional<bool> QtDefaults::boolValue(const std::string& key) {
    std::lock_guard lock(mutex_);
    refresh();
    const QString v = settings_->value(keyOf(key)).toString();
    if (v == BOOL_TRUE) return true;
    if (v == BOOL_FALSE) return false;
    return std::nullopt;
}

void QtDefaults::setBool(const std::string& key, bool value) {
    std::lock_guard lock(mutex_);
    settings_->setValue(keyOf(key), value ? BOOL_TRUE : BOOL_FALSE);
    commit();
}

std::optional<std::string> QtDefaults::stringValue(const std::string& key) {
    std::lock_guard lock(mutex_);
    refresh();
    const QString v = settings_->value(keyOf(key)).toString();
    if (!v.startsWith(STRING_TAG)) return std::nullopt;
    return v.mid(STRING_TAG.size()).toStdString();
}

void QtDefaults::setString(const std::string& key, const std::string& value) {
    std::lock_guard lock(mutex_);
    settings_->setValue(keyOf(key), STRING_TAG + QString::fromStdString(value));
    commit();
}

std::string QtDefaults::fileName() const {
    std::lock_guard lock(mutex_);
    return settings_->fileName().toStdString();
}

}  // namespace zavren
