#pragma once

#include <string>
#include <string_view>

namespace zavren {

// True for an absolute "http://" or "https://" URL with a host and no blanks or
// control characters: the only kind the program fetches or hands to the browser.
bool isHttpUrl(std::string_view text);

// base with one path component appended ("a/b" + "c" -> "a/b/c"), placed before any
// query or fragment of base.
std::string appendPathComponent(const std::string& base, const std::string& component);

}  // namespace zavren
