#include "engine/resolve.h"

#include <gtest/gtest.h>

#include "unit/engine/engine_layout.h"

namespace zavren {
namespace {

using test::writeFile;

struct Resolution : ::testing::Test {
    test::TempDir tmp;
    Paths paths = Paths::under(tmp.path);
    std::string dev = tmp.path + "/checkout";
    std::string engine(const std::string& v) const { return paths.engineRoot + "/engine-" + v; }
};

TEST_F(Resolution, LlamaGetsItsArgumentsAndPythonItsVariablesWithTheCurrentTerms) {
    test::makeLlama(engine("1.0"));
    auto r = resolve(paths, "");
    const std::string d = engine("1.0");
    ASSERT_TRUE(r);
    EXPECT_EQ(commandLine(*r),
              d + "/bin/llama-server -m " + d + "/models/qwen3-asr.gguf --mmproj " + d +
                  "/models/mmproj.gguf --host 127.0.0.1 --port 8765 -c 4096 --parallel 1");
    EXPECT_TRUE(r->env.empty());
    Resolved quoted{EngineKind::python, "/a b/py", {"/x/it's.py", "-c", "4096"}, {}, ""};
    EXPECT_EQ(commandLine(quoted), "'/a b/py' '/x/it'\\''s.py' -c 4096");
    EXPECT_EQ(r->killPath, d + "/bin/llama-server");

    std::filesystem::remove_all(d);
    test::makePython(engine("2"));
    writeFile(paths.termsFile, "# comment\n张三\nKubernetes\n");
    r = resolve(paths, "");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->killPath, engine("2") + "/voice_server.py");
    // clang-format off
    EXPECT_EQ(r->env, (std::map<std::string, std::string>{
        {"HF_HOME", engine("2") + "/models"}, {"HF_HUB_OFFLINE", "1"}, {"TRANSFORMERS_OFFLINE", "1"},
        {"ZAVREN_PORT", "8765"}, {"ZAVREN_TERMS", "张三 Kubernetes"}}));
    // clang-format on
    writeFile(paths.termsFile, "李四\n");
    EXPECT_EQ(resolve(paths, "")->env.at("ZAVREN_TERMS"), "李四") << "read afresh";
}

TEST_F(Resolution, TheCheckoutNeedsBothFilesAndAnInstalledEngineWins) {
    writeFile(dev + "/spike/python/bin/python3.13", "", false);
    EXPECT_FALSE(resolve(paths, dev)) << "no script";
    writeFile(dev + "/voice_server.py");
    std::filesystem::current_path(tmp.path);
    EXPECT_FALSE(resolve(paths, "checkout")) << "a relative checkout";
    EXPECT_EQ(resolve(paths, dev)->env.at("HF_HOME"), dev + "/spike/models");
    std::filesystem::remove(dev + "/spike/python/bin/python3.13");
    EXPECT_FALSE(resolve(paths, dev)) << "no interpreter";
    test::makePython(engine("0.1"));
    writeFile(dev + "/spike/python/bin/python3.13", "", true);
    EXPECT_EQ(resolve(paths, dev)->exec, engine("0.1") + "/python/bin/python3.13");
}

}  // namespace
}  // namespace zavren
