// What the other tests take for granted of the fake engine.
#include <httplib.h>
#include <sys/wait.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "integration/http/test_server.h"
#include "support/fake_engine.h"
#include "support/temp_dir.h"
#include "support/wait_for.h"

namespace zavren {
namespace {

using nlohmann::json;

struct FakeEngine : ::testing::Test {
    test::TempDir tmp;
    const int port = test::closedPort();
    httplib::Client client{"127.0.0.1", port};
    pid_t pid = -1;
    int starts = 0;

    // Starts the llama flavour (or the python one) with this behaviour script.
    void start(const json& script, bool llama = true) {
        const std::string dir = tmp / std::to_string(++starts),
                          model = dir + "/models/qwen3-asr.gguf",
                          proj = dir + "/models/mmproj.gguf", portText = std::to_string(port);
        test::installFakeEngine(dir, llama, script.dump());
        ::setenv("ZAVREN_PORT", portText.c_str(), 1);
        pid = ::fork();
        if (pid == 0) {
            if (llama)
                ::execl(test::fakeEngine().c_str(), "fake-engine", "-m", model.c_str(), "--mmproj",
                        proj.c_str(), "--port", portText.c_str(), nullptr);
            ::execl(test::fakeEngine().c_str(), "fake-engine", (dir + "/voice_server.py").c_str(),
                    nullptr);
            ::_exit(127);
        }
        ASSERT_TRUE(test::waitFor([&] { return client.Get("/health") != nullptr; }));
    }
    int end(int sig) {
        int st = ::kill(pid, sig);
        ::waitpid(std::exchange(pid, -1), &st, 0);
        return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    ~FakeEngine() override { (void)(pid > 0 && end(SIGKILL)); }
};

TEST_F(FakeEngine, AnswersEachRequestAsScriptedInEitherFlavourAndEndsOnSigterm) {
    start({{"answers", {"一", {{"answer", "二"}, {"marker", false}}, {{"status", 500}}}}});
    auto content = [&] {
        auto r = client.Post("/v1/chat/completions", "{}", "application/json");
        if (r->status != 200) return std::to_string(r->status);
        return json::parse(r->body)["choices"][0]["message"]["content"].get<std::string>();
    };
    EXPECT_EQ(content(), "language Chinese<asr_text>一");
    EXPECT_EQ(content(), "二");
    EXPECT_EQ(content(), "500");
    EXPECT_EQ(end(SIGTERM), 0);
    start({{"answer", "好"}}, false);
    EXPECT_EQ(json::parse(client.Post("/", "RIFF", "audio/wav")->body)["text"], "好");
}

}  // namespace
}  // namespace zavren
