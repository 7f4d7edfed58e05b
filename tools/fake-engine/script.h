#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zavren::fake {

// How one transcription request is answered.
struct Answer {
    std::string text = "你好";
    std::string prefix = "language Chinese<asr_text>";  // chat answers only
    std::string echo;                                   // "", duration, prompt, terms, size
    int status = 200;
    int delayMs = 0;
    int trickleMs = 0;  // > 0: send the body one byte at a time, this far apart
    bool malformed = false;
    double hugeMb = 0;
    bool contentArray = false;
    std::optional<std::string> body;  // sent as is, replacing everything else
};

struct Script {
    int healthFailures = 0;
    int healthFailStatus = 503;
    int listenDelayMs = 0;
    std::optional<int> exitAtStart;
    std::optional<int> crashAfter;
    int crashCode = 1;
    bool ignoreSigterm = false;
    std::string logPath;
    Answer answer;
    std::vector<nlohmann::json> answers;  // per request; the last one repeats

    // The answer for the zero-based transcription request index.
    Answer answerFor(std::size_t index) const;
};

struct ScriptError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Applies the keys of one JSON object on top of script; throws ScriptError on an
// unknown key or a wrong type, so a typo in a test never goes unnoticed.
void applyScript(Script& script, const nlohmann::json& object);

// The JSON object in a file, or nullopt when the file does not hold one.
std::optional<nlohmann::json> readJsonObject(const std::string& path);

}  // namespace zavren::fake
