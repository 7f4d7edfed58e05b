#pragma once

#include <sys/types.h>

#include <QSettings>
#include <memory>
#include <mutex>
#include <tuple>

#include "platform/defaults.h"

namespace zavren {

// User defaults in an INI file in the configuration folder. Safe from any thread:
// the text switch is read on the HTTP thread while the menu writes it.
class QtDefaults : public Defaults {
  public:
    explicit QtDefaults(const std::string& configDir);

    std::optional<bool> boolValue(const std::string& key) override;
    void setBool(const std::string& key, bool value) override;
    std::optional<std::string> stringValue(const std::string& key) override;
    void setString(const std::string& key, const std::string& value) override;

    std::string fileName() const;

  private:
    using Stamp = std::tuple<ino_t, off_t, time_t, long>;
    void refresh();
    void commit();
    Stamp stamp() const;

    std::string file_;
    Stamp seen_{};
    mutable std::mutex mutex_;
    std::unique_ptr<QSettings> settings_;
};

}  // namespace zavren
