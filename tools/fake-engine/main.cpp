// fake-engine: a stand-in for the speech engine, for tests and demos.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <thread>

#include "engine.h"
#include "request_log.h"
#include "script.h"

namespace {

using namespace zavren::fake;

const char* HELP = R"(fake-engine: a stand-in for the speech engine (tests and demos)

USAGE
  fake-engine -m MODEL --mmproj PROJ [--host 127.0.0.1] [--port P] [-c N] [--parallel N]
      llama flavour: serves GET /health and POST /v1/chat/completions.
      MODEL and PROJ must exist. Any host but 127.0.0.1 is refused. --port 0
      picks a free port (printed on stdout). Default port 8765.
  fake-engine SCRIPT
      python flavour (one argument, the script path, which must exist): serves
      GET /health and POST / (raw WAV body, answer {"text": ...}). Port from
      ZAVREN_PORT (default 8765); the terms in ZAVREN_TERMS.
  fake-engine --help

Both listen on 127.0.0.1 only. Other paths answer 404 (and are logged).
SIGTERM or SIGINT stops it with exit status 0, unless the script ignores SIGTERM.

BEHAVIOUR SCRIPT
  A JSON object, read from (later sources override earlier ones):
    1. the model file (-m) in llama mode, or the script file in python mode,
       when that file holds a JSON object (so an engine folder can carry it);
    2. the environment variable FAKE_ENGINE_SCRIPT: a path to a JSON file, or
       the JSON text itself when it starts with "{".
  Unknown keys and wrong types are refused at start (exit status 2).

  Engine keys:
    health_failures N      the first N GET /health answer health_fail_status (default 0)
    health_fail_status S   status while failing (default 503)
    listen_delay_ms N      wait this long before listening (connections are refused)
    exit_at_start C        exit with status C at once, before listening
    crash_after N          answer N transcription requests; the next one makes the
                           process exit (status crash_code) without answering
    crash_code C           default 1
    ignore_sigterm B       true: SIGTERM is logged and ignored (SIGKILL still works)
    log PATH               request log (FAKE_ENGINE_LOG, when set, wins)

  Answer keys (at top level: for every request; in "answers": per request):
    answer TEXT            the transcription (default "你好"); "text" is a synonym
    prefix TEXT            put before the text in chat answers
                           (default "language Chinese<asr_text>"; "" for none)
    marker B               false: no prefix at all; true: the default prefix
    echo MODE              answer with: "duration" (seconds of the WAV, "%.2f", or
                           "none" when the body is not RIFF/WAVE), "prompt" (the
                           chat text part), "terms" (ZAVREN_TERMS), "size" (body bytes)
    status S               HTTP status (default 200); >= 400 answers an error object
    delay_ms N             wait before answering
    trickle_ms N           send the answer one byte every N ms (Content-Length set)
    malformed B            send a truncated JSON body
    huge_mb X              the answer text is X MiB of "a"
    content_array B        chat: content is an array of parts; python: text is an array
    body TEXT              send exactly this body (status still applies)
  answers [ ... ]          per transcription request, in order; the last entry
                           repeats. Each entry is a string (the answer text) or
                           an object of answer keys overriding the top-level ones.

  Example: {"health_failures": 3, "answers": ["一", {"answer": "二", "marker": false},
            {"status": 500}], "delay_ms": 100}

REQUEST LOG
  FAKE_ENGINE_LOG (or the "log" key) names a file that gets one JSON object per
  line, flushed at once:
    {"event":"start", "mode", "port", "pid", "argv", "time"}
    {"event":"request", "time", "mode", "method", "path", "headers":{...},
     "body_size", "env":{"ZAVREN_TERMS","HF_HOME","HF_HUB_OFFLINE",
     "TRANSFORMERS_OFFLINE"} (null when unset), and for GET /health and 404s
     "status"; for transcriptions "index" (1-based), "wav_seconds" (null when
     not RIFF/WAVE), "wav_bytes", and for chat requests "json_ok", "temperature",
     "prompt", "audio_format", "base64_ok"; "crash" when it exits on it}
    {"event":"signal", "signal": 15 or 2, "ignored": true|false, "time"}
  Transcription requests are logged when they arrive, before any delay.
)";

[[noreturn]] void usage(const std::string& message) {
    std::fprintf(stderr, "fake-engine: %s\n(see fake-engine --help)\n", message.c_str());
    std::exit(2);
}

int parsePort(const std::string& text, const char* what) {
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < 0 || v > 65535)
        usage(std::string("bad ") + what + ": \"" + text + "\"");
    return static_cast<int>(v);
}

struct Parsed {
    EngineConfig config;
    std::string scriptFile;  // model or python script
};

Parsed parseArgs(int argc, char** argv) {
    Parsed p;
    for (int i = 0; i < argc; ++i) p.config.argv.emplace_back(argv[i]);
    if (argc < 2) usage("missing arguments");
    std::string first = argv[1];
    if (first == "--help" || first == "-h") {
        std::fputs(HELP, stdout);
        std::exit(0);
    }
    if (first.empty() || first[0] != '-') {
        if (argc != 2) usage("the python flavour takes exactly one argument, the script");
        p.config.mode = Mode::python;
        p.scriptFile = first;
        if (const char* port = std::getenv("ZAVREN_PORT"))
            p.config.port = parsePort(port, "ZAVREN_PORT");
        if (!std::filesystem::is_regular_file(first)) usage("no script at " + first);
        return p;
    }
    p.config.mode = Mode::llama;
    std::string host = "127.0.0.1", proj;
    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            std::fputs(HELP, stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) usage("option " + opt + " needs a value");
        std::string value = argv[++i];
        if (opt == "-m" || opt == "--model")
            p.scriptFile = value;
        else if (opt == "--mmproj")
            proj = value;
        else if (opt == "--host")
            host = value;
        else if (opt == "--port")
            p.config.port = parsePort(value, "--port");
        else if (opt == "-c" || opt == "--ctx-size" || opt == "--parallel" || opt == "-np")
            parsePort(value, opt.c_str());  // a number; its value does not matter here
        else
            usage("unknown option " + opt);
    }
    if (host != "127.0.0.1") usage("refusing to listen on " + host + ": only 127.0.0.1 is allowed");
    if (p.scriptFile.empty()) usage("missing -m MODEL");
    if (proj.empty()) usage("missing --mmproj PROJ");
    if (!std::filesystem::is_regular_file(p.scriptFile)) usage("no model at " + p.scriptFile);
    if (!std::filesystem::is_regular_file(proj)) usage("no projector at " + proj);
    return p;
}

Script loadScript(const std::string& scriptFile) {
    Script s;
    try {
        if (auto fromFile = readJsonObject(scriptFile)) applyScript(s, *fromFile);
        if (const char* env = std::getenv("FAKE_ENGINE_SCRIPT"); env && *env) {
            std::optional<nlohmann::json> j;
            if (env[0] == '{') {
                auto parsed = nlohmann::json::parse(env, nullptr, false);
                if (!parsed.is_discarded()) j = parsed;
            } else {
                j = readJsonObject(env);
            }
            if (!j) usage(std::string("FAKE_ENGINE_SCRIPT is not a JSON object: ") + env);
            applyScript(s, *j);
        }
    } catch (const ScriptError& e) {
        usage(e.what());
    }
    if (const char* log = std::getenv("FAKE_ENGINE_LOG"); log && *log) s.logPath = log;
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    Parsed parsed = parseArgs(argc, argv);
    Script script = loadScript(parsed.scriptFile);
    if (script.exitAtStart) {
        std::fprintf(stderr, "fake-engine: exiting at start with status %d\n", *script.exitAtStart);
        return *script.exitAtStart;
    }
    RequestLog log(script.logPath);
    if (!log.ok()) {
        std::fprintf(stderr, "fake-engine: cannot open the log %s: %s\n", script.logPath.c_str(),
                     std::strerror(errno));
        return 1;
    }

    // Signals go to one waiting thread; every other thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    bool ignoreTerm = script.ignoreSigterm;
    FakeEngine engine(parsed.config, std::move(script), log);
    std::thread([&engine, &log, signals, ignoreTerm] {
        for (;;) {
            int sig = 0;
            if (sigwait(&signals, &sig) != 0) continue;
            bool ignored = sig == SIGTERM && ignoreTerm;
            log.write({{"event", "signal"}, {"signal", sig}, {"ignored", ignored}});
            std::fprintf(stderr, "fake-engine: %s %s\n", sig == SIGTERM ? "SIGTERM" : "SIGINT",
                         ignored ? "ignored" : "received, stopping");
            std::fflush(stderr);
            if (ignored) continue;
            engine.stop();
            // A handler stuck in a write must not keep the process alive.
            std::this_thread::sleep_for(std::chrono::seconds(2));
            std::fflush(nullptr);
            ::_exit(0);
        }
    }).detach();

    return engine.run();
}
