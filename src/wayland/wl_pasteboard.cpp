#include "wayland/wl_pasteboard.h"

#include <chrono>

#include "wayland/child_command.h"

namespace zavren {

namespace {

using std::chrono::milliseconds;

// Another application owns what it offers and may send without end, or never.
constexpr std::size_t MAX_TEXT = 16u << 20;
constexpr milliseconds READ_TIMEOUT{1000};
constexpr milliseconds WRITE_TIMEOUT{1000};

}  // namespace

std::optional<std::string> WlPasteboard::string() {
    auto r = runCommand({"wl-paste", "--no-newline", "--type", "text"}, "", MAX_TEXT, READ_TIMEOUT);
    // Cut short means a part of the text: restoring that would be worse than none.
    if (r.status != 0 || r.cutShort) return std::nullopt;
    return r.output;
}

void WlPasteboard::clear() {
    runCommand({"wl-copy", "--clear"}, "", 0, WRITE_TIMEOUT, false);
}

void WlPasteboard::setString(const std::string& value, const std::string& type) {
    if (type != PASTEBOARD_STRING_TYPE) return;
    runCommand({"wl-copy", "--type", "text/plain;charset=utf-8"}, value, 0, WRITE_TIMEOUT, false);
}

}  // namespace zavren
