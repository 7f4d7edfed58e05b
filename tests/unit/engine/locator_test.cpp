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
        const char *a, *b;
        int want;
    } cases[] = {{"0.9.2", "0.10.0", -1},
                 {"0.10.0", "1.0", -1},
                 {"1.0", "1.0", 0},
                 {"1.01", "1.1", 0},
                 {"1.0", "1.0.1", -1},
                 {"", "0", -1},
                 {"", "", 0},
                 {"2", "10", -1},
                 {"a10", "a9", 1},
                 {"1.0a", "1.0b", -1},
                 {"1.0-rc", "1.0", 1},
                 {"1.0B", "1.0a", -1},  // case-sensitive: 'B' < 'a'
                 {"99999999999999999999999", "100000000000000000000000", -1}};
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
    using K = EngineKind;
    struct Case {
        std::vector<std::pair<std::string, K>> engines;
        std::string wantVersion;
        K wantKind;
    } cases[] = {
        {{{"0.9.2", K::llama}, {"0.10.0", K::llama}}, "0.10.0", K::llama},
        {{{"2.0", K::python}, {"1.0", K::llama}}, "1.0", K::llama},
        {{{"3", K::python}, {"12", K::python}, {"4", K::python}}, "12", K::python},
        {{{"", K::llama}}, "", K::llama},
        {{{"1", K::python}, {"1", K::llama}}, "1", K::llama},  // both layouts in one folder
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wantVersion);
        Root r;
        for (const auto& [version, kind] : c.engines)
            kind == K::llama ? makeLlama(r.dir("engine-" + version))
                             : makePython(r.dir("engine-" + version));
        auto got = EngineLocator::installed(r.root);
        ASSERT_TRUE(got);
        EXPECT_EQ(got->version, c.wantVersion);
        EXPECT_EQ(got->kind, c.wantKind);
        EXPECT_EQ(got->dir, r.dir("engine-" + c.wantVersion));
    }
}

TEST(Locator, IncompleteAndForeignEntriesAreIgnored) {
    Root r;
    makeLlama(r.dir("engine-10"));  // a marker file that is a broken link
    fs::remove(r.dir("engine-10/models/mmproj.gguf"));
    fs::create_symlink(r.dir("nowhere.gguf"), r.dir("engine-10/models/mmproj.gguf"));
    makeLlama(r.dir("engine-9"), /*executable=*/false);
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

    // A linked engine folder counts, under its link name.
    makeLlama(r.tmp.path + "/elsewhere");
    fs::create_symlink(r.tmp.path + "/elsewhere", r.dir("engine-0.1"));
    auto got = EngineLocator::installed(r.root);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->version, "0.1");
    EXPECT_EQ(got->dir, r.dir("engine-0.1"));
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

TEST(Locator, UnreadableFoldersAreIgnored) {
    Root r;
    using P = fs::perms;
    fs::permissions(r.tmp.path,
                    P::owner_all | P::others_read | P::others_exec | P::group_read | P::group_exec);
    makeLlama(r.dir("engine-5"));
    makePython(r.dir("engine-1"));
    fs::permissions(r.dir("engine-5"), P::owner_all);  // others may not enter
    EXPECT_TRUE(seenUnprivileged(r.root, "1"));

    fs::permissions(r.root, P::owner_all);
    EXPECT_TRUE(seenUnprivileged(r.root, "-"));
}

TEST(Locator, RootThatIsMissingAFileOrALink) {
    Root r;
    EXPECT_FALSE(EngineLocator::installed(r.tmp.path + "/absent"));
    EXPECT_FALSE(EngineLocator::installed(""));
    writeFile(r.tmp.path + "/file");
    EXPECT_FALSE(EngineLocator::installed(r.tmp.path + "/file"));
    EngineLocator::removeAll(r.tmp.path + "/absent");
    EXPECT_TRUE(fs::exists(r.tmp.path + "/file"));

    makeLlama(r.dir("engine-1"));
    writeFile(r.dir("download.partial"));
    fs::create_directories(r.dir(".extract-tmp/x"));
    EngineLocator::removeAll(r.root);
    EXPECT_FALSE(fs::exists(r.root));

    // Through a linked root only the link goes.
    makeLlama(r.tmp.path + "/target/engine-1");
    fs::create_symlink(r.tmp.path + "/target", r.root);
    EngineLocator::removeAll(r.root);
    EXPECT_FALSE(fs::exists(fs::symlink_status(r.root)));
    EXPECT_TRUE(fs::exists(r.tmp.path + "/target/engine-1/bin/llama-server"));
}

}  // namespace
}  // namespace zavren
