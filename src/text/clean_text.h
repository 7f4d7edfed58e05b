#pragma once

#include <string>
#include <string_view>

namespace zavren {

// Text an engine answered, made safe to paste or print: control characters other
// than newline and tab, bidirectional overrides and isolates, and malformed UTF-8
// are dropped, white space around it trimmed. For a terminal, where a newline runs
// what came before it, newlines become spaces.
std::string cleanText(std::string_view text, bool forTerminal);

}  // namespace zavren
