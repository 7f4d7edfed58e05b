#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "dictation/wav.h"
#include "integration/engine/engine_rig.h"
#include "shared/files.h"

namespace zavren {
namespace {

using testing::EngineRig;

#ifdef ZAVREN_CLI_EXE
const std::string CLI = ZAVREN_CLI_EXE;
#else
const std::string CLI;
#endif

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs `zavren ARGS` with its XDG folders in the rig's temporary folder.
CliResult runCli(EngineRig& rig, const std::vector<std::string>& args) {
    auto env = rig.processes.environment();
    const std::string& root = rig.tmp.path;
    env["HOME"] = root;
    env["XDG_DATA_HOME"] = root + "/data";
    env["XDG_CONFIG_HOME"] = root + "/config";
    env["XDG_STATE_HOME"] = root + "/state";
    env["XDG_CACHE_HOME"] = root + "/cache";
    env["XDG_RUNTIME_DIR"] = root + "/run";
    const std::string out = root + "/cli.out", err = root + "/cli.err";
    std::vector<std::string> shArgs{"-c", "exec \"$@\" >\"$OUT\" 2>\"$ERR\"", "sh", CLI};
    shArgs.insert(shArgs.end(), args.begin(), args.end());
    env["OUT"] = out;
    env["ERR"] = err;
    auto r = rig.processes.run({"/bin/sh", shArgs, env, -1});
    return {r.status, files::read(out).value_or(""), files::read(err).value_or("")};
}

std::string writeWav(const std::string& dir) {
    const std::string path = dir + "/speech.wav";
    testing::writeFile(path, wrapWav(std::string(32000, '\0')));  // 1 s of silence
    return path;
}

std::vector<nlohmann::json> events(const std::string& logPath, const std::string& kind) {
    std::vector<nlohmann::json> out;
    std::istringstream in(files::read(logPath).value_or(""));
    for (std::string line; std::getline(in, line);) {
        auto j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_object() && j.value("event", "") == kind) out.push_back(j);
    }
    return out;
}

#define REQUIRE_CLI()                                     \
    do {                                                  \
        if (CLI.empty()) GTEST_SKIP() << "no zavren cli"; \
        REQUIRE_FREE_ENGINE_PORT();                       \
    } while (0)

TEST(TranscribeCommand, BothFlavoursStartTheEngineTranscribeAndStopIt) {
    REQUIRE_CLI();
    for (auto kind : {EngineKind::llama, EngineKind::python}) {
        SCOPED_TRACE(toString(kind));
        EngineRig rig;
        const std::string requests = rig.tmp.path + "/requests.jsonl";
        const std::string script =
            nlohmann::json{{"answer", "百分之五十"}, {"log", requests}}.dump();
        if (kind == EngineKind::llama)
            testing::linkLlama(rig.engineDir("1"), script);
        else
            testing::linkPython(rig.engineDir("1"), script);
        const std::string wav = writeWav(rig.tmp.path);

        auto r = runCli(rig, {"transcribe", wav});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "50%\n");
        EXPECT_NE(r.err.find("正在启动语音引擎"), std::string::npos) << r.err;
        EXPECT_FALSE(testing::portTaken()) << "the engine it started is stopped";

        r = runCli(rig, {"transcribe", "--no-itn", wav});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "百分之五十\n");

        auto posts = events(requests, "request");
        std::vector<std::string> paths;
        for (const auto& e : posts)
            if (e.value("method", "") == "POST") paths.push_back(e.value("path", ""));
        const std::string want = kind == EngineKind::llama ? "/v1/chat/completions" : "/";
        EXPECT_EQ(paths, std::vector<std::string>(2, want));
        EXPECT_EQ(events(requests, "start").size(), 2u);
        EXPECT_NE(files::read(rig.paths.engineLog).value_or("").find("fake-engine"),
                  std::string::npos);
    }
}

TEST(TranscribeCommand, UsesAnEngineThatAlreadyAnswersAndLeavesItRunning) {
    REQUIRE_CLI();
    EngineRig rig;
    const std::string requests = rig.tmp.path + "/requests.jsonl";
    testing::linkPython(rig.engineDir("1"),
                        nlohmann::json{{"answer", "好的"}, {"log", requests}}.dump());
    rig.server->start();
    ASSERT_TRUE(rig.waitFor(EngineState::ready));
    auto r = runCli(rig, {"transcribe", writeWav(rig.tmp.path)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "好的\n");
    EXPECT_EQ(r.err.find("正在启动语音引擎"), std::string::npos) << r.err;
    EXPECT_TRUE(rig.server->process()->isRunning());
    EXPECT_EQ(events(requests, "start").size(), 1u);
}

TEST(TranscribeCommand, FailuresHaveTheirOwnExitCodes) {
    REQUIRE_CLI();
    struct Case {
        const char* name;
        std::string script;  // empty: no engine installed
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    EngineRig rig0;
    const std::string wav = writeWav(rig0.tmp.path);
    testing::writeFile(rig0.tmp.path + "/not.wav", "hello");
    const Case cases[] = {
        {"usage", "{}", {"transcribe"}, 2, "用法"},
        {"unknown option", "{}", {"transcribe", wav, "--fast"}, 2, "--fast"},
        {"missing file", "{}", {"transcribe", rig0.tmp.path + "/none.wav"}, 6, "无法读取"},
        {"not a wav", "{}", {"transcribe", rig0.tmp.path + "/not.wav"}, 6, "不是 WAV"},
        {"no engine", "", {"transcribe", wav}, 3, "没有安装语音引擎"},
        {"engine dies", R"({"exit_at_start": 1})", {"transcribe", wav}, 4, "启动失败"},
        {"empty answer", R"({"answer": ""})", {"transcribe", wav}, 5, "结果为空"},
        {"engine error", R"({"status": 500})", {"transcribe", wav}, 5, "转写失败"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineRig rig;
        if (!c.script.empty()) testing::linkLlama(rig.engineDir("1"), c.script);
        auto r = runCli(rig, c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_FALSE(testing::portTaken());
    }
}

TEST(EngineStatusCommand, ShowsTheEngineItsLaunchLineAndWhetherItAnswers) {
    REQUIRE_CLI();
    EngineRig rig;
    auto r = runCli(rig, {"engine", "status"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find("已安装引擎: 无"), std::string::npos) << r.out;

    const std::string dir = rig.engineDir("2.1");
    testing::linkPython(dir);
    r = runCli(rig, {"engine", "status"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("已安装引擎: " + dir + "\n版本: 2.1\n类型: python"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("启动命令: " + dir + "/python/bin/python3.13 " + dir + "/voice_server.py"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  HF_HOME=" + dir + "/models\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("/health: 无应答"), std::string::npos) << r.out;

    rig.server->start();
    ASSERT_TRUE(rig.waitFor(EngineState::ready));
    r = runCli(rig, {"engine", "status"});
    EXPECT_NE(r.out.find("/health: 正在应答 (200)"), std::string::npos) << r.out;
    EXPECT_EQ(runCli(rig, {"engine", "status", "extra"}).status, 2);
}

}  // namespace
}  // namespace zavren
