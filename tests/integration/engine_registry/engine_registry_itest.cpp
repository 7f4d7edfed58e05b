#include <filesystem>
#include <regex>

#include <gtest/gtest.h>

#include "dictation/wav.h"
#include "support/run_program.h"
#include "unit/engine/engine_layout.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;

// The real program with every XDG folder under a private home.
TEST(EngineRegistryCli, AddedLlamaServerIsChosenTranscribesAndIsRemovedAsLinksOnly) {
    test::TempDir home;
    const std::string engines = home / "data/zavren/engine", model = home / "model.gguf",
                      mmproj = home / "mmproj.gguf", fake = ZAVREN_FAKE_ENGINE;
    test::writeFile(model, R"({"answer": "登记的引擎在回答"})");
    test::writeFile(mmproj);
    std::string out;  // of the last run
    const auto zavren = [&](const std::vector<std::string>& args) {
        auto r = test::runProgram(ZAVREN_CLI_EXE, args, test::homeVars(home.path));
        out = r.out;
        return r.status;
    };
    test::makeLlama(engines + "/engine-0.10.0");  // as if downloaded
    ASSERT_EQ(
        zavren({"engine", "add", "--llama-server", fake, "--model", model, "--mmproj", mmproj}), 0);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("engine-(local-[0-9]{8}-[0-9]{6})\n")));
    const std::string added = m[1], dir = engines + "/engine-" + added;

    EXPECT_EQ(zavren({"engine", "list"}), 0);
    EXPECT_NE(out.find("* " + added + "  llama  正在使用\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  0.10.0  llama\n"), std::string::npos) << out;
    EXPECT_NE(out.find("models/qwen3-asr.gguf -> " + model + "\n"), std::string::npos);

    test::writeFile(home / "speech.wav", wrapWav(std::string(32000, '\0')));
    EXPECT_EQ(zavren({"transcribe", "--no-itn", home / "speech.wav"}), 0);
    EXPECT_EQ(out, "登记的引擎在回答\n");

    EXPECT_EQ(zavren({"engine", "remove", added}), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir)));
    for (const auto& kept : {model, mmproj, fake}) EXPECT_TRUE(fs::exists(kept)) << kept;
}

}  // namespace
}  // namespace zavren
