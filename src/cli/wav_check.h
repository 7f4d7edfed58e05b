#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zavren::cli {

// What keeps the bytes from being the 16 kHz mono 16-bit PCM WAV the engine takes,
// in words for people; nullopt when they are.
std::optional<std::string> wavProblem(std::string_view bytes);

}  // namespace zavren::cli
