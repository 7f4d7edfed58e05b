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
using testing::TempDir;
using testing::writeFile;

TEST(VersionCompare, DigitRunsCompareByValue) {
    struct Case {
        const char* a;
        const char* b;
        int want;
    } cases[] = {
        {"0.9.2", "0.10.0", -1},
        {"0.10.0", "1.0", -1},
        {"1.0", "1.0", 0},
        {"1.01", "1.1", 0},
        {"1.0", "1.0.1", -1},
        {"", "0", -1},
        {"", "", 0},
        {"2", "10", -1},
        {"a10", "a9", 1},
        {"1.0a", "1.0b", -1},
        {"1.0B", "1.0a", -1},  // case-sensitive: 'B' < 'a'
        {"99999999999999999999999", "100000000000000000000000", -1},
        {"1.0-rc", "1.0", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(compareNumeric(c.a, c.b), c.want) << c.a << " vs " << c.b;
        EXPECT_EQ(compareNumeric(c.b, c.a), -c.want) << c.b << " vs " << c.a;
    }
}

struct Root {
    TempDir tmp;
    std::string root = tmp.path + "/engine";
    Root() { fs::create_directories(root); }
    std::string dir(const std::string& name) const { return root + "/" + name; }
};

TEST(Locator, HighestVersionOfTheBestKindWins) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, EngineKind>> engines;
        std::string wantVersion;
        EngineKind wantKind;
    } cases[] = {
        {"numeric order",
         {{"0.9.2", EngineKind::llama}, {"0.10.0", EngineKind::llama}},
         "0.10.0",
         EngineKind::llama},
        {"llama beats a newer python",
         {{"2.0", EngineKind::python}, {"1.0", EngineKind::llama}},
         "1.0",
         EngineKind::llama},
        {"python versions",
         {{"3", EngineKind::python}, {"12", EngineKind::python}, {"4", EngineKind::python}},
         "12",
         EngineKind::python},
        {"empty version", {{"", EngineKind::llama}}, "", EngineKind::llama},
    };
    for (const auto& c : cases) {
        Root r;
        for (const auto& [version, kind] : c.engines) {
            if (kind == EngineKind::llama)
                makeLlama(r.dir("engine-" + version));
            else
                makePython(r.dir("engine-" + version));
        }
        auto got = EngineLocator::installed(r.root);
        ASSERT_TRUE(got) << c.name;
        EXPECT_EQ(got->version, c.wantVersion) << c.name;
        EXPECT_EQ(got->kind, c.wantKind) << c.name;
        EXPECT_EQ(got->dir, r.dir("engine-" + c.wantVersion)) << c.name;
    }
}

TEST(Locator, BothLayoutsInOneFolderIsLlama) {
    Root r;
    makeLlama(r.dir("engine-1"));
    makePython(r.dir("engine-1"));
    EXPECT_EQ(EngineLocator::installed(r.root)->kind, EngineKind::llama);
}

TEST(Locator, IncompleteAndForeignEntriesAreIgnored) {
    Root r;
    makeLlama(r.dir("engine-9"), /*executable=*/false);            // not executable
    writeFile(r.dir("engine-8/bin/llama-server"), "", true);       // no models
    writeFile(r.dir("engine-7/python/bin/python3.13"), "", true);  // no script
    writeFile(r.dir("engine-6/voice_server.py"));                  // no interpreter
    fs::create_directories(r.dir("engine-5/bin/llama-server"));    // a folder, not a file
    writeFile(r.dir("engine-5/models/qwen3-asr.gguf"));
    writeFile(r.dir("engine-5/models/mmproj.gguf"));
    writeFile(r.dir("engine-4"));                             // a plain file
    fs::create_symlink(r.dir("missing"), r.dir("engine-3"));  // broken link
    makeLlama(r.dir("Engine-2"));                             // prefix is case-sensitive
    makeLlama(r.dir("old-engine-2"));
    makeLlama(r.dir(".extract-tmp"));  // scratch, even if complete
    makeLlama(r.dir(".extract-tmp/engine-2"));
    writeFile(r.dir("download.partial"));
    EXPECT_FALSE(EngineLocator::installed(r.root));

    makePython(r.dir("engine-0.1"));
    auto got = EngineLocator::installed(r.root);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->version, "0.1");
}

TEST(Locator, MarkerFilesThatAreBrokenLinksDoNotCount) {
    Root r;
    makeLlama(r.dir("engine-1"));
    fs::remove(r.dir("engine-1/models/mmproj.gguf"));
    fs::create_symlink(r.dir("nowhere.gguf"), r.dir("engine-1/models/mmproj.gguf"));
    EXPECT_FALSE(EngineLocator::installed(r.root));
}

TEST(Locator, LinkedEngineFolderCountsUnderItsLinkName) {
    Root r;
    makeLlama(r.tmp.path + "/elsewhere");
    fs::create_symlink(r.tmp.path + "/elsewhere", r.dir("engine-2.0"));
    auto got = EngineLocator::installed(r.root);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->dir, r.dir("engine-2.0"));
    EXPECT_EQ(got->version, "2.0");
}

// Root reads every folder, so when the tests run as root the inspection runs in a
// child that has dropped to an unprivileged user. Returns the found version, or
// "-" when nothing was found.
std::string versionSeenUnprivileged(const std::string& root) {
    if (::geteuid() != 0) {
        auto got = EngineLocator::installed(root);
        return got ? got->version : "-";
    }
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return "pipe failed";
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        auto got = EngineLocator::installed(root);
        std::string out = got ? got->version : "-";
        ssize_t n = ::write(pipeFds[1], out.data(), out.size());
        ::_exit(n < 0 ? 3 : 0);
    }
    ::close(pipeFds[1]);
    std::string out;
    char buf[64];
    for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;) out.append(buf, std::size_t(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : "child failed";
}

TEST(Locator, UnreadableFoldersAreIgnored) {
    Root r;
    fs::permissions(r.tmp.path, fs::perms::owner_all | fs::perms::others_read |
                                    fs::perms::others_exec | fs::perms::group_read |
                                    fs::perms::group_exec);
    makeLlama(r.dir("engine-5"));
    makePython(r.dir("engine-1"));
    fs::permissions(r.dir("engine-5"), fs::perms::owner_all);  // others may not enter
    EXPECT_EQ(versionSeenUnprivileged(r.root), "1");

    fs::permissions(r.root, fs::perms::owner_all);
    EXPECT_EQ(versionSeenUnprivileged(r.root), "-");
}

TEST(Locator, MissingOrNonFolderRootFindsNothing) {
    TempDir tmp;
    EXPECT_FALSE(EngineLocator::installed(tmp.path + "/absent"));
    EXPECT_FALSE(EngineLocator::installed(""));
    writeFile(tmp.path + "/file");
    EXPECT_FALSE(EngineLocator::installed(tmp.path + "/file"));
    EngineLocator::removeAll(tmp.path + "/absent");
    EXPECT_TRUE(fs::exists(tmp.path + "/file"));
}

TEST(Locator, RemoveAllWipesEverythingButNotThroughALinkedRoot) {
    Root r;
    makeLlama(r.dir("engine-1"));
    writeFile(r.dir("download.partial"));
    fs::create_directories(r.dir(".extract-tmp/x"));
    EngineLocator::removeAll(r.root);
    EXPECT_FALSE(fs::exists(r.root));
    EXPECT_FALSE(EngineLocator::installed(r.root));

    makeLlama(r.tmp.path + "/target/engine-1");
    fs::create_symlink(r.tmp.path + "/target", r.root);
    EngineLocator::removeAll(r.root);
    EXPECT_FALSE(fs::exists(fs::symlink_status(r.root)));
    EXPECT_TRUE(fs::exists(r.tmp.path + "/target/engine-1/bin/llama-server"));
}

}  // namespace
}  // namespace zavren
