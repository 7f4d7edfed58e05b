#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zavren {

// The published record of the newest program version ("latest.json").
struct AppLatest {
    std::string version;
    std::optional<std::string> notes;
    std::string url;
    std::optional<std::string> page;

    // Absent when the body is not JSON, lacks "version" or "url", or a known key has
    // the wrong type. Unknown keys are ignored; null counts as absent for the optional ones.
    static std::optional<AppLatest> decode(std::string_view body);
    // The same four keys; absent optional fields are left out.
    std::string encode() const;

    bool operator==(const AppLatest&) const = default;
};

}  // namespace zavren
