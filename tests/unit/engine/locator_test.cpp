#include "engine/locator.h"

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "shared/version_compare.h"
#include "unit/engine/engine_layout.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;
using testing::makeLlama;
using testing::makePython;
using testing::writeFile;

TEST(VersionCompare, DigitRunsCompareByValue) {
    const std::tuple<const char*, const char*, int> rows[] = {
        {"0.9.2", "0.10.0", -1}, {"1.01", "1.1", 0},
        {"1.0", "1.0.1", -1},    {"", "0", -1},
        {"a10", "a9", 1},        {"1.0-rc", "1.0", 1},
        {"1.0B", "1.0a", -1},    {"99999999999999999999999", "100000000000000000000000", -1}};
    for (const auto& [a, b, want] : rows) {
        EXPECT_EQ(compareNumeric(a, b), want) << a << " vs " << b;
        EXPECT_EQ(compareNumeric(b, a), -want) << b << " vs " << a;
    }
}

struct Locator : ::testing::Test {
    testing::TempDir tmp;
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
    auto got = EngineLocator::installed(root);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->kind, EngineKind::llama);
    EXPECT_EQ(got->dir, dir("engine-0.10.0"));
}

TEST_F(Locator, IncompleteAndForeignEntriesAreIgnoredButALinkedFolderCounts) {
    makeLlama(dir("engine-10"));
    fs::remove(dir("engine-10/models/mmproj.gguf"));
    fs::create_symlink(dir("nowhere.gguf"), dir("engine-10/models/mmproj.gguf"));
    makeLlama(dir("engine-9"), /*executable=*/false);
    writeFile(dir("engine-7/python/bin/python3.13"), "", true);  // no script
    writeFile(dir("engine-4"));
    fs::create_symlink(dir("missing"), dir("engine-3"));
    makeLlama(dir("Engine-2"));
    makeLlama(dir(".extract-tmp/engine-2"));
    EXPECT_FALSE(EngineLocator::installed(root));
    EXPECT_FALSE(EngineLocator::usable(dir("engine-10")));

    makeLlama(tmp / "elsewhere");
    fs::create_symlink(tmp / "elsewhere", dir("engine-0.1"));
    EXPECT_EQ(EngineLocator::installed(root)->dir, dir("engine-0.1"));
    EXPECT_TRUE(EngineLocator::usable(EngineLocator::versionDir(root, "0.1")));
}

// Root reads every folder, so as root the look-up runs in a child that has dropped
// to an unprivileged user. want is the version expected, "-" for none.
bool seenUnprivileged(const std::string& root, const std::string& want) {
    auto seen = [&] {
        auto got = EngineLocator::installed(root);
        return (got ? got->version : "-") == want;
    };
    if (::geteuid() != 0) return seen();
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0 && seen() ? 0 : 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(Locator, UnreadableFoldersAreIgnored) {
    using P = fs::perms;
    fs::permissions(tmp.path, P::owner_all | P::others_read | P::others_exec);
    makeLlama(dir("engine-5"));
    makePython(dir("engine-1"));
    fs::permissions(dir("engine-5"), P::owner_all);
    EXPECT_TRUE(seenUnprivileged(root, "1"));
}

TEST_F(Locator, RemovingALinkedRootRemovesOnlyTheLink) {
    EXPECT_FALSE(EngineLocator::installed(tmp / "absent"));
    makeLlama(dir("engine-1"));
    EngineLocator::removeAll(root);
    EXPECT_FALSE(fs::exists(root));
    makeLlama(tmp / "target/engine-1");
    fs::create_symlink(tmp / "target", root);
    EngineLocator::removeAll(root);
    EXPECT_FALSE(fs::exists(fs::symlink_status(root)));
    EXPECT_TRUE(fs::exists(tmp / "target/engine-1/bin/llama-server"));
}

}  // namespace
}  // namespace zavren
