#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zavren {

// What a compositor key binding asks of the running program.
enum class PttCommand { press, release, toggle, cancel };

// One line per connection: the word, optionally a space and the time the sending
// process started (CLOCK_MONOTONIC, nanoseconds), and a newline. The answer is
// "ok" or "error: why", also one line.
inline constexpr std::size_t PTT_MAX_LINE = 32;

struct PttMessage {
    PttCommand command;
    std::optional<std::chrono::steady_clock::time_point> startedAt;
    bool operator==(const PttMessage&) const = default;
};

std::optional<PttCommand> parsePttWord(std::string_view word);
std::optional<PttMessage> parsePttLine(std::string_view line);
// The line a client sends, stamped with the monotonic clock's now.
std::string pttLine(PttCommand command);

// The control socket in the user's runtime folder.
std::string pttSocketPath(const std::string& runtimeDir);

// Collects one connection's bytes up to the first newline.
class PttLineReader {
  public:
    enum class LineStatus { incomplete, done, tooLong };
    LineStatus feed(std::string_view bytes);
    const std::string& line() const { return line_; }

  private:
    std::string line_;
    bool done_ = false;
};

// `zavren ptt WORD`: sends the word and prints the program's refusal, if any.
// Exit 0 when accepted, 2 for a bad word, 3 when no program is listening.
int pttCommand(const std::vector<std::string>& args, const std::string& socketPath);

}  // namespace zavren

#include "dictation/press_order.h"
#include "platform/input.h"

namespace zavren {

// The key a binding presses and releases. A press while it is down (a binding
// that fires on auto-repeat) and a release while it is up change nothing.
// Cancel lifts the key without a release, so nothing is transcribed.
class PttKey {
  public:
    using Clock = std::chrono::steady_clock;
    // Each command is a process of its own: a repeat spawned just before the
    // release can arrive just after it. No hand presses again this soon.
    static constexpr auto REPRESS_GUARD = std::chrono::milliseconds(60);

    // startedAt: when the sender started, if it said; see PressOrder.
    std::optional<HotkeyEvent> apply(PttCommand command, Clock::time_point now,
                                     std::optional<Clock::time_point> startedAt = std::nullopt);

  private:
    bool down_ = false;
    std::optional<Clock::time_point> releasedAt_;
    PressOrder order_;
};

}  // namespace zavren
