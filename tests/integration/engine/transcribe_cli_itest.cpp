// The command-line entries that talk to the engine, run as real processes.
#include <gtest/gtest.h>

#include "dictation/wav.h"
#include "integration/engine/engine_rig.h"
#include "integration/http/test_server.h"
#include "support/run_program.h"

namespace zavren {
namespace {

using test::EngineRig;

const std::string CLI = ZAVREN_CLI_EXE;

// Runs `zavren ARGS` with its XDG folders in the rig's temporary folder.
test::ProgramResult runCli(EngineRig& rig, const std::vector<std::string>& args,
                           std::map<std::string, std::string> vars = {}) {
    vars.merge(test::homeVars(rig.tmp.path));
    return test::runProgram(CLI, args, vars);
}

std::string writeWav(const std::string& dir, std::size_t pcmBytes = 32000) {
    const std::string path = dir + "/speech.wav";
    test::writeFile(path, wrapWav(std::string(pcmBytes, '\0')));
    return path;
}

TEST(TranscribeCommand, StartsEitherEngineAndLeavesNothingRunningWhenItExits) {
    REQUIRE_FREE_ENGINE_PORT();
    for (bool llama : {true, false}) {
        SCOPED_TRACE(llama);
        EngineRig rig;
        // An engine deaf to SIGTERM must still be gone by the time the program is.
        // What it answers is printed cleaned: no escape, no NUL cutting it short.
        test::installFakeEngine(
            rig.engineDir("1"), llama,
            R"({"answer": " 百分之五十\u0000，好\u001b[m\u202e\n", "ignore_sigterm": true})");
        auto r = runCli(rig, {"transcribe", writeWav(rig.tmp.path)});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "50%，好[m\n");
        EXPECT_FALSE(test::portTaken());
    }
}

TEST(TranscribeCommand, FailuresHaveTheirOwnExitCodes) {
    REQUIRE_FREE_ENGINE_PORT();
    // Name, engine script (empty: none installed), PCM bytes, exit status.
    const std::tuple<const char*, std::string, std::size_t, int> cases[] = {
        {"header only", "{}", 0, 6},
        {"no engine", "", 32000, 3},
        {"engine dies", R"({"exit_at_start": 1})", 32000, 4},
        {"empty answer", R"({"answer": ""})", 32000, 5}};
    for (const auto& [name, script, pcmBytes, status] : cases) {
        EngineRig rig;
        if (!script.empty()) test::installFakeEngine(rig.engineDir("1"), true, script);
        auto r = runCli(rig, {"transcribe", writeWav(rig.tmp.path, pcmBytes)});
        EXPECT_EQ(r.status, status) << name << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << name;
    }
}

TEST(EngineCommands, StatusFailsUntilTheEngineAnswersAndInstallSkipsAPresentVersion) {
    REQUIRE_FREE_ENGINE_PORT();
    EngineRig rig;
    EXPECT_EQ(runCli(rig, {"engine", "status"}).status, 3);
    test::installFakeEngine(rig.engineDir("2.1"), true);
    EXPECT_EQ(runCli(rig, {"engine", "status"}).status, 4) << "installed, not answering";
    rig.server->start();
    ASSERT_TRUE(rig.waitFor(EngineState::ready));
    EXPECT_EQ(runCli(rig, {"engine", "status"}).status, 0);

    test::TestServer downloads;
    int requests = 0;
    downloads.server.Get("/engine.json", [&](const auto&, httplib::Response& res) {
        ++requests;
        res.set_content(R"({"version": "2.1", "url": "a.tar.gz", "sha256": ")" +
                            std::string(64, '0') + R"(", "size": 1})",
                        "application/json");
    });
    downloads.start();
    const std::map<std::string, std::string> base{{"ZAVREN_UPDATE_BASE", downloads.url("/")}};
    auto r = runCli(rig, {"engine", "install"}, base);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(requests, 1) << "nothing downloaded";
    r = runCli(rig, {"engine", "install", "--force"}, base);
    EXPECT_NE(r.status, 0) << "the forced download fails: no archive is served";
}

}  // namespace
}  // namespace zavren
