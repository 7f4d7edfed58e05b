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

#include "shared/constants.h"

namespace zavren {

PttKey::Effect PttKey::apply(PttCommand command, Clock::time_point now) {
    if (command == PttCommand::toggle) command = down_ ? PttCommand::release : PttCommand::press;
    Effect effect;
    switch (command) {
        case PttCommand::press:
            if (down_ || (releasedAt_ && now - *releasedAt_ < REPRESS_GUARD)) break;
            effect.flags = FlagsEvent{HOTKEY_CODE, OPTION_FLAG};
            down_ = true;
            break;
        case PttCommand::release:
            if (!down_) break;
            effect.flags = FlagsEvent{HOTKEY_CODE, 0};
            down_ = false;
            releasedAt_ = now;
            break;
        case PttCommand::cancel:
            effect.cancel = true;
            down_ = false;
            break;
        case PttCommand::toggle:
            break;
    }
    return effect;
}

}  // namespace zavren
