#include "engine/locator.h"

#include <sys/fsuid.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "unit/engine/engine_layout.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;
using test::makeLlama;
using test::makePython;

struct Locator : ::testing::Test {
    test::TempDir tmp;
    std::string root = tmp / "engine";
    void SetUp() override { fs::create_directories(root); }
    std::string dir(const std::string& name) const { return root + "/" + name; }
};

TEST_F(Locator, LlamaBeatsPythonThenTheHighestVersionWins) {
    makePython(dir("engine-12"));
    makePython(dir("engine-3"));
    EXPECT_EQ(EngineLocator::installed(root)->version, "12");
    makeLlama(dir("engine-0.9.2"));
    makeLlama(dir("engine-0.10.0"));
    EXPECT_EQ(EngineLocator::installed(root)->dir, dir("engine-0.10.0"));
}

TEST_F(Locator, IncompleteAndForeignEntriesAreIgnoredButALinkedFolderCounts) {
    makeLlama(dir("engine-10"));
    fs::remove(dir("engine-10/models/mmproj.gguf"));
    fs::create_symlink(dir("nowhere.gguf"), dir("engine-10/models/mmproj.gguf"));
    makeLlama(dir("engine-9"), /*executable=*/false);
    test::writeFile(dir("engine-7/python/bin/python3.13"), "", true);  // no script
    fs::create_symlink(dir("missing"), dir("engine-3"));
    makeLlama(dir("Engine-2"));
    makeLlama(dir(".extract-tmp/engine-2"));
    EXPECT_FALSE(EngineLocator::installed(root));

    makeLlama(tmp / "elsewhere");
    fs::create_symlink(tmp / "elsewhere", dir("engine-0.1"));
    EXPECT_EQ(EngineLocator::installed(root)->dir, dir("engine-0.1"));
    EXPECT_TRUE(EngineLocator::usable(EngineLocator::versionDir(root, "0.1")));
}

// Root reads every folder, so it reads as another user; anyone else locks himself out.
TEST_F(Locator, UnreadableFoldersAreIgnored) {
    const bool asRoot = ::geteuid() == 0;
    makeLlama(dir("engine-5"));
    makePython(dir("engine-1"));
    fs::permissions(tmp.path, fs::perms(0755));
    fs::permissions(dir("engine-5"), asRoot ? fs::perms::owner_all : fs::perms::none);
    if (asRoot) ::setfsgid(65534), ::setfsuid(65534);  // this thread's file access only
    const auto found = EngineLocator::installed(root);
    if (asRoot) ::setfsuid(0), ::setfsgid(0);
    fs::permissions(dir("engine-5"), fs::perms::owner_all);
    EXPECT_EQ(found ? found->version : "", "1");
}

TEST_F(Locator, RemovingALinkedRootRemovesOnlyTheLink) {
    makeLlama(dir("engine-1"));
    EngineLocator::removeAll(root);
    EXPECT_FALSE(fs::exists(root));
    makeLlama(tmp / "target/engine-1");
    fs::create_symlink(tmp / "target", root);
    EngineLocator::removeAll(root);
    EXPECT_FALSE(fs::exists(fs::symlink_status(root)));
    EXPECT_TRUE(fs::exists(tmp / "target/engine-1/bin/llama-server"));
}

TEST_F(Locator, ReinstallRemovesDownloadedEnginesOnlyNeverARegisteredOneOrItsFiles) {
    makeLlama(dir("engine-1.0"));  // downloaded
    makePython(dir("engine-0.9"));
    fs::create_symlink("python3.13", dir("engine-0.9/python/bin/python3"));  // inside: still ours
    makeLlama(tmp / "mine");
    fs::create_directories(dir("engine-local-1/bin"));  // registered: links to the user's files
    fs::create_directories(dir("engine-local-1/models"));
    for (const char* f : {"bin/llama-server", "models/qwen3-asr.gguf", "models/mmproj.gguf"})
        fs::create_symlink(tmp / "mine/" + f, dir("engine-local-1/") + f);
    fs::create_directories(dir("engine-py/"));
    fs::create_symlink(tmp / "mine/bin/llama-server", dir("engine-py/voice_server.py"));
    fs::create_directory_symlink(tmp / "mine", dir("engine-linked"));
    test::writeFile(dir("download.partial"));

    EXPECT_TRUE(EngineLocator::downloaded(dir("engine-1.0")));
    EXPECT_TRUE(EngineLocator::downloaded(dir("engine-0.9")));
    EXPECT_FALSE(EngineLocator::downloaded(dir("engine-local-1")));
    EXPECT_FALSE(EngineLocator::downloaded(dir("engine-py")));
    EXPECT_FALSE(EngineLocator::downloaded(dir("engine-linked")));
    EXPECT_TRUE(EngineLocator::anyDownloaded(root));

    EngineLocator::removeDownloaded(root);
    EXPECT_FALSE(fs::exists(dir("engine-1.0")));
    EXPECT_FALSE(fs::exists(dir("engine-0.9")));
    EXPECT_FALSE(fs::exists(dir("download.partial")));
    EXPECT_TRUE(EngineLocator::usable(dir("engine-local-1")));
    EXPECT_TRUE(fs::exists(fs::symlink_status(dir("engine-linked"))));
    EXPECT_TRUE(fs::exists(tmp / "mine/bin/llama-server"));
    EXPECT_FALSE(EngineLocator::anyDownloaded(root));
}

}  // namespace
}  // namespace zavren
