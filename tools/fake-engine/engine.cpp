#include "engine.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "shared/base64.h"
#include "wav_info.h"

namespace zavren::fake {

namespace {

using nlohmann::json;

json envOrNull(const char* name) {
    const char* v = std::getenv(name);
    return v ? json(v) : json(nullptr);
}

struct ChatRequest {
    bool parsed = false;
    std::string prompt;
    std::string format;
    std::string wav;
    json temperature;
    bool base64Ok = false;
};

ChatRequest readChat(const std::string& body) {
    ChatRequest c;
    json j = json::parse(body, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return c;
    c.parsed = true;
    if (j.contains("temperature")) c.temperature = j["temperature"];
    auto messages = j.value("messages", json::array());
    if (!messages.is_array() || messages.empty() || !messages[0].is_object()) return c;
    auto content = messages[0].value("content", json::array());
    if (!content.is_array()) return c;
    for (const auto& part : content) {
        if (!part.is_object()) continue;
        std::string type = part.value("type", "");
        if (type == "text" && part.contains("text") && part["text"].is_string()) {
            c.prompt = part["text"].get<std::string>();
        } else if (type == "input_audio" && part.contains("input_audio") &&
                   part["input_audio"].is_object()) {
            const json& audio = part["input_audio"];
            c.format = audio.value("format", "");
            if (audio.contains("data") && audio["data"].is_string()) {
                auto decoded = base64::decode(audio["data"].get<std::string>());
                c.base64Ok = decoded.has_value();
                if (decoded) c.wav = std::move(*decoded);
            }
        }
    }
    return c;
}

std::string formatSeconds(std::optional<double> s) {
    if (!s) return "none";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", *s);
    return buf;
}

}  // namespace

FakeEngine::FakeEngine(EngineConfig config, Script script, RequestLog& log)
    : config_(std::move(config)), script_(std::move(script)), log_(log) {
    server_.http.Get("/health", [this](const auto& req, auto& res) { health(req, res); });
    const char* path = config_.mode == Mode::llama ? "/v1/chat/completions" : "/";
    server_.http.Post(path, [this](const auto& req, auto& res) { transcribe(req, res); });
    // Anything else is answered 404 and logged, so a wrong path shows in tests.
    auto other = [this](const auto& req, auto& res) { notFound(req, res); };
    server_.http.Get(".*", other);
    server_.http.Post(".*", other);
    server_.http.Put(".*", other);
    server_.http.Delete(".*", other);
    server_.http.set_read_timeout(60, 0);
    server_.http.set_write_timeout(60, 0);
}

json FakeEngine::describe(const httplib::Request& req) const {
    json headers = json::object();
    for (const auto& [name, value] : req.headers) {
        if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
            name == "LOCAL_PORT")
            continue;
        if (headers.contains(name))
            headers[name] = headers[name].get<std::string>() + ", " + value;
        else
            headers[name] = value;
    }
    return {{"event", "request"},
            {"mode", config_.mode == Mode::llama ? "llama" : "python"},
            {"method", req.method},
            {"path", req.path},
            {"headers", headers},
            {"body_size", req.body.size()},
            {"env",
             {{"ZAVREN_TERMS", envOrNull("ZAVREN_TERMS")},
              {"HF_HOME", envOrNull("HF_HOME")},
              {"HF_HUB_OFFLINE", envOrNull("HF_HUB_OFFLINE")},
              {"TRANSFORMERS_OFFLINE", envOrNull("TRANSFORMERS_OFFLINE")}}}};
}

void FakeEngine::health(const httplib::Request& req, httplib::Response& res) {
    int n = ++healthCount_;
    bool failing = n <= script_.healthFailures;
    res.status = failing ? script_.healthFailStatus : 200;
    json line = describe(req);
    line["status"] = res.status;
    log_.write(line);
    res.set_content(
        failing ? R"({"error":{"code":503,"message":"Loading model"}})" : R"({"status":"ok"})",
        "application/json");
}

void FakeEngine::notFound(const httplib::Request& req, httplib::Response& res) {
    json line = describe(req);
    line["status"] = 404;
    log_.write(line);
    res.status = 404;
    res.set_content(R"({"error":{"code":404,"message":"File Not Found"}})", "application/json");
}

bool FakeEngine::pause(int ms) {
    if (ms <= 0) return true;
    std::unique_lock lock(stopMutex_);
    return !stopCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void FakeEngine::transcribe(const httplib::Request& req, httplib::Response& res) {
    std::unique_lock slot(slot_);
    std::size_t index = transcriptions_++;
    bool chat = config_.mode == Mode::llama;

    json line = describe(req);
    line["index"] = index + 1;
    std::string prompt;
    std::string_view wav = req.body;
    ChatRequest parsed;
    if (chat) {
        parsed = readChat(req.body);
        line["json_ok"] = parsed.parsed;
        line["temperature"] = parsed.temperature;
        line["prompt"] = parsed.prompt;
        line["audio_format"] = parsed.format;
        line["base64_ok"] = parsed.base64Ok;
        prompt = parsed.prompt;
        wav = parsed.wav;
    }
    std::optional<double> seconds = wavSeconds(wav);
    line["wav_seconds"] = seconds ? json(*seconds) : json(nullptr);
    line["wav_bytes"] = wav.size();

    if (script_.crashAfter && index >= static_cast<std::size_t>(*script_.crashAfter)) {
        line["crash"] = script_.crashCode;
        log_.write(line);
        std::fprintf(stderr, "fake-engine: crashing on request %zu (exit %d)\n", index + 1,
                     script_.crashCode);
        std::fflush(stderr);
        ::_exit(script_.crashCode);
    }
    log_.write(line);

    Answer a = script_.answerFor(index);
    if (!pause(a.delayMs)) {
        res.status = 503;
        return;
    }

    std::string text = a.text;
    if (a.echo == "duration")
        text = formatSeconds(seconds);
    else if (a.echo == "prompt")
        text = prompt;
    else if (a.echo == "terms")
        text = std::getenv("ZAVREN_TERMS") ? std::getenv("ZAVREN_TERMS") : "";
    else if (a.echo == "size")
        text = std::to_string(req.body.size());
    if (a.hugeMb > 0) text.assign(static_cast<std::size_t>(a.hugeMb * 1048576.0), 'a');

    std::string body;
    if (a.body) {
        body = *a.body;
    } else if (a.malformed) {
        body = chat ? R"({"choices":[{"message":{"content":")" + a.prefix + text
                    : R"({"text":")" + text;
    } else if (a.status >= 400) {
        body = json{{"error", {{"code", a.status}, {"message", text}}}}.dump();
    } else if (chat) {
        json content = a.prefix + text;
        if (a.contentArray) content = json::array({{{"type", "text"}, {"text", a.prefix + text}}});
        json answer = {
            {"id", "chatcmpl-fake"},
            {"object", "chat.completion"},
            {"model", "fake"},
            {"choices",
             json::array({{{"index", 0},
                           {"finish_reason", "stop"},
                           {"message", {{"role", "assistant"}, {"content", content}}}}})}};
        body = answer.dump();
    } else {
        json t = a.contentArray ? json::array({text}) : json(text);
        body = json{{"text", t}}.dump();
    }

    res.status = a.status;
    if (a.trickleMs <= 0) {
        res.set_content(body, "application/json");
        return;
    }
    auto shared = std::make_shared<std::string>(std::move(body));
    int every = a.trickleMs;
    res.set_content_provider(shared->size(), "application/json",
                             [this, shared, every](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (!pause(every)) return false;
                                 return sink.write(shared->data() + offset, 1);
                             });
}

void FakeEngine::stop() {
    {
        std::lock_guard lock(stopMutex_);
        stopping_ = true;
    }
    stopCv_.notify_all();
    server_.stop();
}

int FakeEngine::run() {
    const char* mode = config_.mode == Mode::llama ? "llama" : "python";
    std::fprintf(stderr, "fake-engine: %s mode, pid %d, starting\n", mode,
                 static_cast<int>(getpid()));
    std::fflush(stderr);
    if (!pause(script_.listenDelayMs)) return 0;

    const int port = server_.bind(config_.port);
    if (port == 0) {
        std::fprintf(stderr, "fake-engine: cannot listen on 127.0.0.1:%d\n", config_.port);
        return 1;
    }
    log_.write({{"event", "start"},
                {"mode", mode},
                {"port", port},
                {"pid", static_cast<int>(getpid())},
                {"argv", config_.argv}});
    std::printf("fake-engine: listening on http://127.0.0.1:%d/\n", port);
    std::fflush(stdout);
    {
        std::lock_guard lock(stopMutex_);
        if (stopping_) return 0;
    }
    server_.serve();
    std::printf("fake-engine: stopped\n");
    std::fflush(stdout);
    return 0;
}

}  // namespace zavren::fake
