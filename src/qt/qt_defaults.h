#pragma once

#include <sys/types.h>

#include <QSettings>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

#include "platform/defaults.h"
#include "platform/log.h"

namespace zavren {

// User defaults in an INI file in the configuration folder. Safe from any thread:
// the text switch is read on the HTTP thread while the menu writes it.
class QtDefaults : public Defaults {
  public:
    // Refusals of the file go to `log`, once.
    explicit QtDefaults(const std::string& configDir, SystemLog* log = nullptr);
    ~QtDefaults() override;
    QtDefaults(const QtDefaults&) = delete;
    QtDefaults& operator=(const QtDefaults&) = delete;

    std::optional<bool> boolValue(const std::string& key) override;
    void setBool(const std::string& key, bool value) override;
    std::optional<std::string> stringValue(const std::string& key) override;
    void setString(const std::string& key, const std::string& value) override;

    std::string fileName() const;

  private:
    using Stamp = std::tuple<ino_t, off_t, time_t, long>;
    static constexpr std::size_t SETTINGS_MAX_BYTES = 64 * 1024;
    bool fileUsable();
    QString value(const QString& key) const;
    void store(const QString& key, const QString& value);
    void refresh();
    void commit();
    Stamp stamp() const;

    std::string file_;
    SystemLog* log_;
    bool refusalLogged_ = false;
    Stamp seen_{};
    mutable std::mutex mutex_;
    std::unique_ptr<QSettings> settings_;  // none when the file was refused at start
    std::map<QString, QString> memory_;    // then this run's values
};

}  // namespace zavren
