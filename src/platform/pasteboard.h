#pragma once

#include <optional>
#include <string>

namespace zavren {

inline const std::string PASTEBOARD_STRING_TYPE = "public.utf8-plain-text";
inline const std::string PASTEBOARD_TRANSIENT_TYPE = "org.nspasteboard.TransientType";

class Pasteboard {
  public:
    virtual ~Pasteboard() = default;
    // The current plain-text content, none when there is no text.
    virtual std::optional<std::string> string() = 0;
    virtual void clear() = 0;
    // Adds a value of the given type to what clear() started.
    virtual void setString(const std::string& value, const std::string& type) = 0;
};

}  // namespace zavren
