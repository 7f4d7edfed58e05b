#pragma once

#include <optional>
#include <string_view>

namespace zavren::fake {

// Seconds of audio in a RIFF/WAVE file, found by walking its chunks to "fmt "
// and "data"; nullopt when the bytes are not such a file. A "data" size larger
// than what is present (a header not yet patched) counts the bytes present.
std::optional<double> wavSeconds(std::string_view bytes);

}  // namespace zavren::fake
