#pragma once

#include <optional>
#include <string>

namespace zavren {

// User defaults: a value is absent, or present with its type.
class Defaults {
  public:
    virtual ~Defaults() = default;
    // None when absent or not a Boolean.
    virtual std::optional<bool> boolValue(const std::string& key) = 0;
    virtual void setBool(const std::string& key, bool value) = 0;
    // None when absent or not a string.
    virtual std::optional<std::string> stringValue(const std::string& key) = 0;
    virtual void setString(const std::string& key, const std::string& value) = 0;
};

}  // namespace zavren
