#include "wayland/ptt_protocol.h"

namespace zavren {

std::optional<PttCommand> parsePttWord(std::string_view word) {
    if (!word.empty() && word.back() == '\r') word.remove_suffix(1);
    if (word == "press") return PttCommand::press;
    if (word == "release") return PttCommand::release;
    if (word == "toggle") return PttCommand::toggle;
    if (word == "cancel") return PttCommand::cancel;
    return std::nullopt;
}

std::string pttSocketPath(const std::string& runtimeDir) {
    return runtimeDir + "/zavren-ptt.sock";
}

PttLineReader::LineStatus PttLineReader::feed(std::string_view bytes) {
    if (done_) return LineStatus::done;
    auto nl = bytes.find('\n');
    line_.append(bytes.substr(0, nl));
    if (line_.size() > PTT_MAX_LINE) return LineStatus::tooLong;
    if (nl == std::string_view::npos) return LineStatus::incomplete;
    done_ = true;
    return LineStatus::done;
}

}  // namespace zavren

namespace zavren {

std::optional<HotkeyEvent> PttKey::apply(PttCommand command, Clock::time_point now) {
    if (command == PttCommand::toggle) command = down_ ? PttCommand::release : PttCommand::press;
    switch (command) {
        case PttCommand::press:
            if (down_ || (releasedAt_ && now - *releasedAt_ < REPRESS_GUARD)) return std::nullopt;
            down_ = true;
            return HotkeyEvent::press;
        case PttCommand::release:
            if (!down_) return std::nullopt;
            down_ = false;
            releasedAt_ = now;
            return HotkeyEvent::release;
        case PttCommand::cancel:
            down_ = false;
            return HotkeyEvent::cancel;
        case PttCommand::toggle:
            break;
    }
    return std::nullopt;
}

}  // namespace zavren
