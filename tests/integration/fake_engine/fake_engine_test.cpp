// What the other tests take for granted of the fake engine.
#include <httplib.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "integration/http/test_server.h"
#include "support/fake_engine.h"
#include "support/run_program.h"

namespace zavren {
namespace {

using nlohmann::json;

struct FakeEngine : ::testing::Test {
    test::TempDir tmp;
    const int port = test::closedPort();
    httplib::Client client{"127.0.0.1", port};
    std::unique_ptr<test::Background> engine;
    int starts = 0;

    // Starts the llama flavour (or the python one) with this behaviour script.
    void start(const json& script, bool llama = true) {
        const std::string dir = tmp / std::to_string(++starts), portText = std::to_string(port);
        test::installFakeEngine(dir, llama, script.dump());
        std::vector<std::string> argv{test::fakeEngine(), dir + "/voice_server.py"};
        if (llama)
            argv = {test::fakeEngine(),
                    "-m",
                    dir + "/models/qwen3-asr.gguf",
                    "--mmproj",
                    dir + "/models/mmproj.gguf",
                    "--port",
                    portText};
        engine = std::make_unique<test::Background>(
            argv, dir + "/out", dir + "/out",
            std::map<std::string, std::string>{{"ZAVREN_PORT", portText}});
        ASSERT_TRUE(test::waitFor([&] { return client.Get("/health") != nullptr; }));
    }
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
    EXPECT_EQ(engine->stop(), 0);
    start({{"answer", "好"}}, false);
    EXPECT_EQ(json::parse(client.Post("/", "RIFF", "audio/wav")->body)["text"], "好");
}

}  // namespace
}  // namespace zavren
