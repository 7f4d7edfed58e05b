#include "script.h"

#include <fstream>
#include <sstream>

namespace zavren::fake {

namespace {

using nlohmann::json;

template <typename T>
T get(const json& object, const std::string& key) {
    try {
        return object.at(key).get<T>();
    } catch (const json::exception&) {
        throw ScriptError("script key \"" + key + "\" has the wrong type");
    }
}

// Returns true when key was an answer key and has been applied.
bool applyAnswerKey(Answer& a, const std::string& key, const json& object) {
    if (key == "answer" || key == "text") {
        a.text = get<std::string>(object, key);
    } else if (key == "prefix") {
        a.prefix = get<std::string>(object, key);
    } else if (key == "marker") {
        // Shorthand: false drops the whole prefix, true restores the default.
        a.prefix = get<bool>(object, key) ? Answer{}.prefix : "";
    } else if (key == "echo") {
        a.echo = get<std::string>(object, key);
        if (a.echo != "" && a.echo != "duration" && a.echo != "prompt" && a.echo != "terms" &&
            a.echo != "size")
            throw ScriptError("echo must be one of duration, prompt, terms, size");
    } else if (key == "status") {
        a.status = get<int>(object, key);
    } else if (key == "delay_ms") {
        a.delayMs = get<int>(object, key);
    } else if (key == "trickle_ms") {
        a.trickleMs = get<int>(object, key);
    } else if (key == "malformed") {
        a.malformed = get<bool>(object, key);
    } else if (key == "huge_mb") {
        a.hugeMb = get<double>(object, key);
    } else if (key == "content_array") {
        a.contentArray = get<bool>(object, key);
    } else if (key == "body") {
        a.body = get<std::string>(object, key);
    } else {
        return false;
    }
    return true;
}

void applyAnswer(Answer& a, const json& entry) {
    if (entry.is_string()) {
        a.text = entry.get<std::string>();
        return;
    }
    if (!entry.is_object()) throw ScriptError("each entry of \"answers\" is a string or an object");
    for (const auto& [key, value] : entry.items()) {
        (void)value;
        if (!applyAnswerKey(a, key, entry))
            throw ScriptError("unknown key \"" + key + "\" in an entry of \"answers\"");
    }
}

}  // namespace

Answer Script::answerFor(std::size_t index) const {
    Answer a = answer;
    if (!answers.empty()) applyAnswer(a, answers[std::min(index, answers.size() - 1)]);
    return a;
}

void applyScript(Script& s, const json& object) {
    if (!object.is_object()) throw ScriptError("the script must be a JSON object");
    for (const auto& [key, value] : object.items()) {
        if (applyAnswerKey(s.answer, key, object)) continue;
        if (key == "health_failures") {
            s.healthFailures = get<int>(object, key);
        } else if (key == "health_fail_status") {
            s.healthFailStatus = get<int>(object, key);
        } else if (key == "listen_delay_ms") {
            s.listenDelayMs = get<int>(object, key);
        } else if (key == "exit_at_start") {
            s.exitAtStart = get<int>(object, key);
        } else if (key == "crash_after") {
            s.crashAfter = get<int>(object, key);
        } else if (key == "crash_code") {
            s.crashCode = get<int>(object, key);
        } else if (key == "ignore_sigterm") {
            s.ignoreSigterm = get<bool>(object, key);
        } else if (key == "log") {
            s.logPath = get<std::string>(object, key);
        } else if (key == "answers") {
            if (!value.is_array()) throw ScriptError("\"answers\" must be an array");
            Answer scratch;  // validates the entries now rather than at the request
            for (const auto& entry : value) applyAnswer(scratch, entry);
            s.answers = value.get<std::vector<json>>();
        } else {
            throw ScriptError("unknown script key \"" + key + "\"");
        }
    }
}

std::optional<json> readJsonObject(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream ss;
    ss << in.rdbuf();
    json parsed = json::parse(ss.str(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) return std::nullopt;
    return parsed;
}

}  // namespace zavren::fake
