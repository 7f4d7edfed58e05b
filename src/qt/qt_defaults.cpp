#include "qt/qt_defaults.h"

#include <sys/stat.h>

#include <QDir>

#include "shared/constants.h"
#include "shared/files.h"

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

QtDefaults::QtDefaults(const std::string& configDir, SystemLog* log)
    : file_(configDir + "/settings.ini"), log_(log) {
    QDir().mkpath(QString::fromStdString(configDir));
    // QSettings reads the file as it is made.
    if (!fileUsable()) return;
    settings_ = std::make_unique<QSettings>(QString::fromStdString(file_), QSettings::IniFormat);
    // The first read loads the file; do it now rather than inside the event loop.
    commit();
}

QtDefaults::~QtDefaults() {
    // QSettings writes pending changes on destruction, reading the file first: one
    // that went bad must not hang the exit.
    if (settings_ && !fileUsable()) (void)settings_.release();
}

QString QtDefaults::value(const QString& key) const {
    if (!settings_) {
        auto it = memory_.find(key);
        return it == memory_.end() ? QString() : it->second;
    }
    return settings_->value(key).toString();
}

void QtDefaults::store(const QString& key, const QString& value) {
    if (!settings_) {
        memory_[key] = value;
        return;
    }
    settings_->setValue(key, value);
    commit();
}

// QSettings would block on a FIFO and read any size: what is not a small regular
// file is left alone, and the defaults (and this run's changes) stay in memory.
bool QtDefaults::fileUsable() {
    const files::UserFile state = files::checkUserFile(file_, SETTINGS_MAX_BYTES);
    const bool usable = state == files::UserFile::ok || state == files::UserFile::missing;
    if (!usable && !refusalLogged_ && log_) {
        log_->line(LOG_PREFIX + "设置文件 " + file_ +
                   (state == files::UserFile::tooLarge ? " 过大" : " 不是普通文件") +
                   ",已忽略,使用默认设置");
    }
    refusalLogged_ = refusalLogged_ || !usable;
    return usable;
}

// Another process (the command line) may have written the file. Syncing takes
// QSettings' file lock, which costs milliseconds: only do it when the file changed.
void QtDefaults::refresh() {
    if (settings_ && stamp() != seen_) commit();
}

void QtDefaults::commit() {
    if (fileUsable()) settings_->sync();
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
    const QString v = value(keyOf(key));
    if (v == BOOL_TRUE) return true;
    if (v == BOOL_FALSE) return false;
    return std::nullopt;
}

void QtDefaults::setBool(const std::string& key, bool value) {
    std::lock_guard lock(mutex_);
    store(keyOf(key), value ? BOOL_TRUE : BOOL_FALSE);
}

std::optional<std::string> QtDefaults::stringValue(const std::string& key) {
    std::lock_guard lock(mutex_);
    refresh();
    const QString v = value(keyOf(key));
    if (!v.startsWith(STRING_TAG)) return std::nullopt;
    return v.mid(STRING_TAG.size()).toStdString();
}

void QtDefaults::setString(const std::string& key, const std::string& value) {
    std::lock_guard lock(mutex_);
    store(keyOf(key), STRING_TAG + QString::fromStdString(value));
}

std::string QtDefaults::fileName() const {
    std::lock_guard lock(mutex_);
    return file_;
}

}  // namespace zavren
