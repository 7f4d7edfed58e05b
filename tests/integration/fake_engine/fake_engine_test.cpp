#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "integration/http/test_server.h"
#include "posix/curl_http_client.h"

extern char** environ;

namespace zavren {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;
using testing::Inbox;

// Runs fake-engine as a child with extra environment entries; kills it at the end.
class EngineProcess {
  public:
    EngineProcess(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
                  const fs::path& output) {
        std::vector<std::string> argStore = {ZAVREN_FAKE_ENGINE};
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<std::string> envStore;
        for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
        envStore.insert(envStore.end(), extraEnv.begin(), extraEnv.end());
        std::vector<char*> argv, envp;
        for (auto& a : argStore) argv.push_back(a.data());
        for (auto& e : envStore) envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~EngineProcess() {
        if (running()) {
            ::kill(pid_, SIGKILL);
            waitExit(5s);
        }
    }
    bool running() { return pid_ > 0 && !status_ && !poll(); }
    void signal(int sig) { ::kill(pid_, sig); }
    // The exit status (or 128 + signal), once the child has ended within the limit.
    std::optional<int> waitExit(std::chrono::milliseconds limit = 10s) {
        auto until = std::chrono::steady_clock::now() + limit;
        while (!status_ && !poll() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(10ms);
        return status_;
    }

  private:
    bool poll() {
        int st = 0;
        if (pid_ <= 0 || ::waitpid(pid_, &st, WNOHANG) != pid_) return false;
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        return true;
    }
    pid_t pid_ = -1;
    std::optional<int> status_;
};

std::vector<json> readLog(const fs::path& path, const std::string& event = "") {
    std::vector<json> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        json j = json::parse(line, nullptr, false);
        if (!j.is_discarded() && (event.empty() || j.value("event", "") == event))
            lines.push_back(j);
    }
    return lines;
}

// 16 kHz mono 16-bit WAV of the given length, with an optional odd-sized chunk
// before "data" (as some recorders write).
std::string wav(double secondsLong, bool extraChunk = false) {
    auto le32 = [](std::uint32_t v) {
        std::string s(4, '\0');
        for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
        return s;
    };
    std::uint32_t dataBytes = static_cast<std::uint32_t>(secondsLong * 32000);
    std::string fmt = std::string("fmt ") + le32(16) + std::string("\x01\x00\x01\x00", 4) +
                      le32(16000) + le32(32000) + std::string("\x02\x00\x10\x00", 4);
    std::string extra = extraChunk ? std::string("LIST") + le32(3) + "abc" + '\0' : "";
    std::string data = std::string("data") + le32(dataBytes) + std::string(dataBytes, '\x01');
    std::string body = "WAVE" + fmt + extra + data;
    return "RIFF" + le32(static_cast<std::uint32_t>(body.size())) + body;
}

std::string chatBody(const std::string& wavBytes, const std::string& prompt) {
    std::string b64;
    {
        // Base64 by hand keeps this test free of the code under test elsewhere.
        static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::size_t i = 0;
        auto byte = [&](std::size_t k) { return static_cast<unsigned char>(wavBytes[k]); };
        for (; i + 2 < wavBytes.size(); i += 3) {
            unsigned v = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
            for (int s = 18; s >= 0; s -= 6) b64 += abc[(v >> s) & 63];
        }
        if (wavBytes.size() - i == 1) {
            unsigned v = byte(i) << 16;
            b64 += std::string{abc[v >> 18], abc[(v >> 12) & 63], '=', '='};
        } else if (wavBytes.size() - i == 2) {
            unsigned v = byte(i) << 16 | byte(i + 1) << 8;
            b64 += std::string{abc[v >> 18], abc[(v >> 12) & 63], abc[(v >> 6) & 63], '='};
        }
    }
    json body = {
        {"temperature", 0},
        {"messages",
         {{{"role", "user"},
           {"content",
            {{{"type", "input_audio"}, {"input_audio", {{"data", b64}, {"format", "wav"}}}},
             {{"type", "text"}, {"text", prompt}}}}}}}};
    return body.dump();
}

class FakeEngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("fake-engine-test-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        port = testing::closedPort();
        logPath = dir / "requests.jsonl";
    }
    void TearDown() override {
        engine.reset();
        fs::remove_all(dir);
    }

    void write(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

    // A llama engine folder whose model file carries the script.
    void startLlama(const json& script, std::vector<std::string> env = {}) {
        write(dir / "model.gguf", script.dump());
        write(dir / "mmproj.gguf", "");
        env.push_back("FAKE_ENGINE_LOG=" + logPath.string());
        engine = std::make_unique<EngineProcess>(
            std::vector<std::string>{"-m", (dir / "model.gguf").string(), "--mmproj",
                                     (dir / "mmproj.gguf").string(), "--host", "127.0.0.1",
                                     "--port", std::to_string(port), "-c", "4096", "--parallel",
                                     "1"},
            env, dir / "engine.log");
        waitStarted();
    }

    void startPython(const json& script, std::vector<std::string> env = {}) {
        write(dir / "voice_server.py", script.dump());
        env.push_back("FAKE_ENGINE_LOG=" + logPath.string());
        env.push_back("ZAVREN_PORT=" + std::to_string(port));
        engine = std::make_unique<EngineProcess>(
            std::vector<std::string>{(dir / "voice_server.py").string()}, env, dir / "engine.log");
        waitStarted();
    }

    void waitStarted() {
        for (int i = 0; i < 1000 && readLog(logPath, "start").empty() && engine->running(); ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_EQ(readLog(logPath, "start").size(), 1u) << engineOutput();
    }

    std::string engineOutput() {
        std::ifstream in(dir / "engine.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    HttpResponse request(const std::string& method, const std::string& path, std::string body = {},
                         std::vector<std::pair<std::string, std::string>> headers = {},
                         Duration timeout = seconds(10)) {
        HttpRequest req;
        req.method = method;
        req.url = "http://127.0.0.1:" + std::to_string(port) + path;
        req.body = std::move(body);
        req.headers = std::move(headers);
        req.timeout = timeout;
        req.maxBodyBytes = 16 << 20;  // the double's huge answers must arrive whole
        Inbox<HttpResponse> inbox;
        client.send(req, [&](HttpResponse r) { inbox.put(std::move(r)); });
        EXPECT_TRUE(inbox.waitFor(1, 30s));
        return inbox.size() ? inbox.items()[0] : HttpResponse{};
    }

    HttpResponse chat(const std::string& wavBytes, const std::string& prompt = "请转写这段语音") {
        return request("POST", "/v1/chat/completions", chatBody(wavBytes, prompt),
                       {{"Content-Type", "application/json"}});
    }

    static std::string content(const HttpResponse& r) {
        json j = json::parse(r.body, nullptr, false);
        if (j.is_discarded()) return "<not json>";
        return j["choices"][0]["message"]["content"].get<std::string>();
    }

    fs::path dir, logPath;
    int port = 0;
    CurlHttpClient client;
    std::unique_ptr<EngineProcess> engine;
};

TEST_F(FakeEngineTest, LlamaHealthFailsThenAnswersPerRequest) {
    startLlama(
        {{"health_failures", 2},
         {"answers", {"一", {{"answer", "二"}, {"marker", false}}, {{"echo", "duration"}}}}});
    std::vector<int> statuses;
    for (int i = 0; i < 3; ++i) statuses.push_back(request("GET", "/health").status);
    EXPECT_EQ(statuses, (std::vector<int>{503, 503, 200}));

    EXPECT_EQ(content(chat(wav(0.5))), "language Chinese<asr_text>一");
    EXPECT_EQ(content(chat(wav(0.5))), "二");
    EXPECT_EQ(content(chat(wav(1.25, true))), "language Chinese<asr_text>1.25");

    auto lines = readLog(logPath, "request");
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0]["path"], "/health");
    const json& first = lines[3];
    EXPECT_EQ(first["path"], "/v1/chat/completions");
    EXPECT_EQ(first["method"], "POST");
    EXPECT_EQ(first["headers"]["Content-Type"], "application/json");
    EXPECT_FALSE(first["headers"].contains("Expect"));
    EXPECT_EQ(first["prompt"], "请转写这段语音");
    EXPECT_EQ(first["audio_format"], "wav");
    EXPECT_EQ(first["temperature"], 0);
    EXPECT_EQ(first["wav_seconds"], 0.5);
    EXPECT_EQ(lines[5]["wav_seconds"], 1.25) << "an extra chunk before data was misread";
    EXPECT_EQ(lines[5]["index"], 3);

    // The python form is not served by the llama flavour.
    EXPECT_EQ(request("POST", "/", wav(0.1)).status, 404);
}

TEST_F(FakeEngineTest, PythonFlavourTakesRawWavAndSeesItsEnvironment) {
    startPython({{"echo", "terms"}},
                {"ZAVREN_TERMS=甲 乙", "HF_HOME=" + (dir / "hf").string(), "HF_HUB_OFFLINE=1"});
    HttpResponse r = request("POST", "/", wav(2.0));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(json::parse(r.body), (json{{"text", "甲 乙"}}));
    auto lines = readLog(logPath, "request");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["wav_seconds"], 2.0);
    EXPECT_EQ(lines[0]["env"]["ZAVREN_TERMS"], "甲 乙");
    EXPECT_EQ(lines[0]["env"]["HF_HOME"], (dir / "hf").string());
    EXPECT_EQ(lines[0]["env"]["HF_HUB_OFFLINE"], "1");
    EXPECT_TRUE(lines[0]["env"]["TRANSFORMERS_OFFLINE"].is_null());
    EXPECT_FALSE(lines[0]["headers"].contains("Content-Type"));
    EXPECT_EQ(request("POST", "/v1/chat/completions", "{}").status, 404);

    // A body that is not RIFF is logged as such.
    request("POST", "/", "not a wav");
    EXPECT_TRUE(readLog(logPath, "request").back()["wav_seconds"].is_null());
}

TEST_F(FakeEngineTest, ScriptedFaultyAnswers) {
    struct Case {
        json entry;
        int status;
        std::function<void(const std::string&)> check;
    };
    std::vector<Case> cases = {
        {{{"status", 500}},
         500,
         [](const std::string& b) { EXPECT_TRUE(json::parse(b).contains("error")); }},
        {{{"malformed", true}},
         200,
         [](const std::string& b) { EXPECT_TRUE(json::parse(b, nullptr, false).is_discarded()); }},
        {{{"content_array", true}},
         200,
         [](const std::string& b) {
             EXPECT_TRUE(json::parse(b)["choices"][0]["message"]["content"].is_array());
         }},
        {{{"huge_mb", 3}, {"marker", false}},
         200,
         [](const std::string& b) {
             EXPECT_EQ(json::parse(b)["choices"][0]["message"]["content"].get<std::string>().size(),
                       3u * 1048576u);
         }},
        {{{"body", "plain words"}}, 200, [](const std::string& b) { EXPECT_EQ(b, "plain words"); }},
    };
    json answers = json::array();
    for (const auto& c : cases) answers.push_back(c.entry);
    startLlama({{"answers", answers}});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry.dump());
        HttpResponse r = chat(wav(0.2));
        ASSERT_FALSE(r.error);
        EXPECT_EQ(r.status, c.status);
        c.check(r.body);
    }
}

TEST_F(FakeEngineTest, TrickledAnswerArrivesWholeThroughAShortIdleTimeout) {
    startPython({{"answer", "好"}, {"trickle_ms", 100}});
    HttpResponse r = request("POST", "/", wav(0.1), {}, seconds(1));
    ASSERT_FALSE(r.error) << r.error->description;
    EXPECT_EQ(json::parse(r.body)["text"], "好");
}

TEST_F(FakeEngineTest, CrashesAfterTheScriptedNumberOfRequests) {
    startLlama({{"crash_after", 1}, {"crash_code", 7}});
    EXPECT_EQ(chat(wav(0.1)).status, 200);
    HttpResponse r = chat(wav(0.1));
    ASSERT_TRUE(r.error);
    EXPECT_EQ(engine->waitExit(), 7);
    EXPECT_EQ(readLog(logPath, "request").back()["crash"], 7);
}

TEST_F(FakeEngineTest, SigtermEndsItUnlessIgnored) {
    startLlama(json::object());
    engine->signal(SIGTERM);
    EXPECT_EQ(engine->waitExit(), 0);

    fs::remove(logPath);
    port = testing::closedPort();
    startLlama({{"ignore_sigterm", true}});
    engine->signal(SIGTERM);
    for (int i = 0; i < 500 && readLog(logPath, "signal").empty(); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(readLog(logPath, "signal").size(), 1u);
    EXPECT_EQ(request("GET", "/health").status, 200) << "stopped despite ignoring SIGTERM";
    EXPECT_TRUE(engine->running());
    engine->signal(SIGKILL);
    EXPECT_EQ(engine->waitExit(), 128 + SIGKILL);
}

TEST_F(FakeEngineTest, RefusesBadLaunchesAndScripts) {
    write(dir / "model.gguf", "");
    write(dir / "mmproj.gguf", "");
    write(dir / "typo.json", R"({"health_failure": 3})");
    std::string model = (dir / "model.gguf").string(), proj = (dir / "mmproj.gguf").string();
    struct Case {
        std::string name;
        std::vector<std::string> args, env;
        int status;
    };
    std::vector<Case> cases = {
        {"any host but loopback", {"-m", model, "--mmproj", proj, "--host", "0.0.0.0"}, {}, 2},
        {"missing model", {"-m", (dir / "none").string(), "--mmproj", proj}, {}, 2},
        {"unknown option", {"-m", model, "--mmproj", proj, "--bogus", "1"}, {}, 2},
        {"python with two arguments", {model, model}, {}, 2},
        {"unknown script key",
         {"-m", model, "--mmproj", proj},
         {"FAKE_ENGINE_SCRIPT=" + (dir / "typo.json").string()},
         2},
        {"exit at start",
         {"-m", model, "--mmproj", proj},
         {R"(FAKE_ENGINE_SCRIPT={"exit_at_start": 3})"},
         3},
        {"help", {"--help"}, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineProcess p(c.args, c.env, dir / "out.txt");
        EXPECT_EQ(p.waitExit(), c.status);
    }
}

}  // namespace
}  // namespace zavren
