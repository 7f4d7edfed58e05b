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

// One line per connection: the word and a newline. The answer is "ok" or
// "error: why", also one line.
inline constexpr std::size_t PTT_MAX_LINE = 32;

std::optional<PttCommand> parsePttWord(std::string_view word);

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

    std::optional<HotkeyEvent> apply(PttCommand command, Clock::time_point now);

  private:
    bool down_ = false;
    std::optional<Clock::time_point> releasedAt_;
};

}  // namespace zavren
