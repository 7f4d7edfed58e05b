// `zavren engine install --from` as a user without network runs it: the test
// program sits in a private network namespace with only loopback, and the
// manifest's address leads nowhere, so any attempt to download would fail.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "support/run_program.h"
#include "support/temp_dir.h"
#include "unit/engine/engine_layout.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;

struct InstallFrom : ::testing::Test {
    test::TempDir tmp;
    std::string fetched = tmp / "fetched", engines = tmp / "data/zavren/engine";

    void SetUp() override {
        const std::string dir = tmp / "work/engine-2.0.0";
        test::makeLlama(dir);
        test::writeFile(dir + "/models/qwen3-asr.gguf", std::string(100000, 'm'));
        fs::remove_all(fetched);
        fs::create_directories(fetched);
        const std::string pack = std::string(ZAVREN_PACK_ENGINE) +
                                 " --base-url https://downloads.invalid/x " + dir + " " + fetched +
                                 " >/dev/null";
        ASSERT_EQ(std::system(pack.c_str()), 0);
    }

    test::ProgramResult install(const std::vector<std::string>& args) {
        std::vector<std::string> all{"engine", "install"};
        all.insert(all.end(), args.begin(), args.end());
        return test::runProgram(
            ZAVREN_BIN, all,
            {{"XDG_DATA_HOME", tmp / "data"}, {"ZAVREN_UPDATE_BASE", "http://127.0.0.1:9/none"}});
    }
    bool installed() const { return fs::exists(engines + "/engine-2.0.0/bin/llama-server"); }
};

TEST_F(InstallFrom, InstallsFromFolderOrManifestWithoutNetwork) {
    auto r = install({"--from", fetched});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(installed());
    EXPECT_NE(r.out.find("引擎已安装: " + engines + "/engine-2.0.0"), std::string::npos) << r.out;
    // Only the engine is left behind: no copy of the archive, no scratch folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(engines), fs::directory_iterator()), 1);

    r = install({"--from", fetched + "/engine.json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("无需安装"), std::string::npos) << r.out;
    r = install({"--force", "--from", fetched + "/engine.json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("引擎已安装"), std::string::npos) << r.out;
}

TEST_F(InstallFrom, RefusesWhatDoesNotMatchTheManifest) {
    const std::string archive = fetched + "/engine-2.0.0.tar.gz";
    struct Case {
        const char* what;
        std::function<void()> spoil;
        const char* says;
    } cases[] = {
        {"an archive with more bytes", [&] { std::ofstream(archive, std::ios::app) << "x"; },
         "校验失败"},
        {"no archive", [&] { fs::remove(archive); }, "找不到引擎包"},
        {"a FIFO for the archive",
         [&] {
             fs::remove(archive);
             ::mkfifo(archive.c_str(), 0600);
         },
         "不是普通文件"},
        {"a manifest that is not one", [&] { std::ofstream(fetched + "/engine.json") << "<html>"; },
         "不是有效的引擎信息文件"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.spoil();
        auto r = install({"--from", fetched});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(installed());
        EXPECT_FALSE(fs::exists(engines + "/.install-from.tmp"));
    }
    EXPECT_EQ(install({"--from"}).status, 2);
    EXPECT_EQ(install({"--from", tmp / "nowhere"}).status, 1);
}

}  // namespace
}  // namespace zavren
