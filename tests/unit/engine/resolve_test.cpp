#include "engine/resolve.h"

#include <gtest/gtest.h>

#include "unit/engine/engine_layout.h"

namespace zavren {
namespace {

using testing::makeLlama;
using testing::makePython;
using testing::TempDir;
using testing::writeFile;

struct Env {
    TempDir tmp;
    Paths paths = Paths::under(tmp.path);
    std::string dev = tmp.path + "/checkout";
    std::string engine(const std::string& v) const { return paths.engineRoot + "/engine-" + v; }
};

TEST(Resolve, LlamaGetsTwelveArgumentsAndNoEnvironment) {
    Env e;
    makeLlama(e.engine("1.0"));
    auto r = resolve(e.paths, "");
    ASSERT_TRUE(r);
    const std::string d = e.engine("1.0");
    EXPECT_EQ(r->kind, EngineKind::llama);
    EXPECT_EQ(r->exec, d + "/bin/llama-server");
    EXPECT_EQ(r->args,
              (std::vector<std::string>{"-m", d + "/models/qwen3-asr.gguf", "--mmproj",
                                        d + "/models/mmproj.gguf", "--host", "127.0.0.1", "--port",
                                        "8765", "-c", "4096", "--parallel", "1"}));
    EXPECT_TRUE(r->env.empty());
    EXPECT_EQ(r->killPath, r->exec);
}

TEST(Resolve, PythonGetsTheScriptAndFiveVariablesWithCurrentTerms) {
    Env e;
    makePython(e.engine("2"));
    writeFile(e.paths.termsFile, "# comment\n张三\nKubernetes\n");
    auto r = resolve(e.paths, "");
    ASSERT_TRUE(r);
    const std::string d = e.engine("2");
    EXPECT_EQ(r->kind, EngineKind::python);
    EXPECT_EQ(r->exec, d + "/python/bin/python3.13");
    EXPECT_EQ(r->args, std::vector<std::string>{d + "/voice_server.py"});
    EXPECT_EQ(r->killPath, d + "/voice_server.py");
    EXPECT_EQ(r->env, (std::map<std::string, std::string>{{"HF_HOME", d + "/models"},
                                                          {"HF_HUB_OFFLINE", "1"},
                                                          {"TRANSFORMERS_OFFLINE", "1"},
                                                          {"ZAVREN_PORT", "8765"},
                                                          {"ZAVREN_TERMS", "张三 Kubernetes"}}));
    // Every resolution reads the terms afresh.
    writeFile(e.paths.termsFile, "李四\n");
    EXPECT_EQ(resolve(e.paths, "")->env.at("ZAVREN_TERMS"), "李四");
}

TEST(Resolve, CheckoutNeedsBothFilesAndAnInstalledEngineWins) {
    Env e;
    EXPECT_FALSE(resolve(e.paths, ""));
    EXPECT_FALSE(resolve(e.paths, e.dev));
    writeFile(e.dev + "/spike/python/bin/python3.13", "", false);
    EXPECT_FALSE(resolve(e.paths, e.dev)) << "no script";
    writeFile(e.dev + "/voice_server.py");
    // A relative checkout would depend on the working directory.
    std::filesystem::current_path(e.tmp.path);
    EXPECT_FALSE(resolve(e.paths, "checkout"));

    auto r = resolve(e.paths, e.dev);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->kind, EngineKind::python);
    EXPECT_EQ(r->exec, e.dev + "/spike/python/bin/python3.13");
    EXPECT_EQ(r->args, std::vector<std::string>{e.dev + "/voice_server.py"});
    EXPECT_EQ(r->killPath, e.dev + "/voice_server.py");
    EXPECT_EQ(r->env.at("HF_HOME"), e.dev + "/spike/models");
    EXPECT_EQ(r->env.size(), 5u);

    std::filesystem::remove(e.dev + "/spike/python/bin/python3.13");
    EXPECT_FALSE(resolve(e.paths, e.dev)) << "no interpreter";

    makePython(e.engine("0.1"));
    writeFile(e.dev + "/spike/python/bin/python3.13", "", true);
    EXPECT_EQ(resolve(e.paths, e.dev)->exec, e.engine("0.1") + "/python/bin/python3.13");
}

TEST(Resolve, CommandLineQuotesWhatAShellWouldSplit) {
    Resolved r{EngineKind::python, "/a b/py", {"/x/it's.py", "-c", "4096"}, {}, ""};
    EXPECT_EQ(commandLine(r), "'/a b/py' '/x/it'\\''s.py' -c 4096");
}

}  // namespace
}  // namespace zavren
