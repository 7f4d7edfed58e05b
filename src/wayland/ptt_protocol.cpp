#include "wayland/ptt_protocol.h"

#include <time.h>

#include <charconv>
#include <cstdint>

namespace zavren {

std::optional<PttCommand> parsePttWord(std::string_view word) {
    if (!word.empty() && word.back() == '\r') word.remove_suffix(1);
    if (word == "press") return PttCommand::press;
    if (word == "release") return PttCommand::release;
    if (word == "toggle") return PttCommand::toggle;
    if (word == "cancel") return PttCommand::cancel;
    return std::nullopt;
}

std::optional<PttMessage> parsePttLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const auto space = line.find(' ');
    const std::string_view word = line.substr(0, space);
    // One CR ends a line from a CRLF sender; a second is no part of a word.
    if (!word.empty() && word.back() == '\r') return std::nullopt;
    auto command = parsePttWord(word);
    if (!command) return std::nullopt;
    PttMessage message{*command, std::nullopt};
    if (space == std::string_view::npos) return message;
    const std::string_view stamp = line.substr(space + 1);
    std::int64_t ns = 0;
    auto [end, ec] = std::from_chars(stamp.data(), stamp.data() + stamp.size(), ns);
    if (ec != std::errc() || end != stamp.data() + stamp.size() || ns < 0) return std::nullopt;
    message.startedAt = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns));
    return message;
}

std::string pttLine(PttCommand command) {
    static constexpr const char* WORDS[] = {"press", "release", "toggle", "cancel"};
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const long long ns = static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
    return std::string(WORDS[static_cast<int>(command)]) + " " + std::to_string(ns) + "\n";
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

std::optional<HotkeyEvent> PttKey::apply(PttCommand command, Clock::time_point now,
                                         std::optional<Clock::time_point> startedAt) {
    if (command == PttCommand::toggle) command = down_ ? PttCommand::release : PttCommand::press;
    switch (command) {
        case PttCommand::press:
            if (down_ || (releasedAt_ && now - *releasedAt_ < REPRESS_GUARD) ||
                !order_.accepts(startedAt))
                return std::nullopt;
            down_ = true;
            return HotkeyEvent::press;
        case PttCommand::release:
            // Even when the key is up: the press it ends may still be on its way.
            order_.released(startedAt, now);
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
