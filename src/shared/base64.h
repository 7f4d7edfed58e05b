#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zavren::base64 {

// Standard alphabet, with padding, no line breaks.
std::string encode(std::string_view bytes);
// Appends the encoding to out (saves a copy when building large bodies).
void encodeAppend(std::string_view bytes, std::string& out);
// Strict decoding of the standard alphabet with padding; nullopt for anything else.
std::optional<std::string> decode(std::string_view text);

}  // namespace zavren::base64
