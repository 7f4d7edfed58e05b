#include "shared/paths.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <filesystem>

#include <gtest/gtest.h>

#include "shared/files.h"
#include "support/temp_dir.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;

TEST(Paths, XdgVariablesAndOneFixedPrivateFallbackRuntimeFolderNeverALink) {
    Paths p =
        Paths::fromEnvironment({{"HOME", "/h"}, {"XDG_DATA_HOME", "/d"}, {"XDG_CONFIG_HOME", "x"}});
    EXPECT_EQ(p.engineRoot + p.termsFile + p.wav,
              "/d/zavren/engine/h/.config/zavren/terms.txt/h/.cache/zavren/run/zavren.wav");
    EXPECT_EQ(Paths::fromEnvironment({{"XDG_CONFIG_HOME", "/c"}}).autostartFile,
              "/c/autostart/zavren.desktop");
    EXPECT_EQ(Paths::fromEnvironment({{"HOME", "/h"}}).engineRoot, "/h/.local/share/zavren/engine");
    test::TempDir t;
    EXPECT_EQ(programRuntimeDir(Paths::under(t.path), {}), t / "run") << "created private";
    const std::string fixed = t / "cache/zavren/run";
    for (int start = 0; start < 2; ++start) {
        Paths p = Paths::under(t.path);
        fs::create_directories(p.runtimeDir);
        ::chmod(p.runtimeDir.c_str(), 01777);
        EXPECT_EQ(programRuntimeDir(p, {{"XDG_CACHE_HOME", t / "cache"}}), fixed);
        ASSERT_TRUE(ensurePrivateRuntimeDir(p, {{"XDG_CACHE_HOME", t / "cache"}}));
        EXPECT_EQ(p.wav, fixed + "/zavren.wav") << "the same folder at every start";
        EXPECT_EQ(fs::status(fixed).permissions(), fs::perms::owner_all);
        ::chmod(fixed.c_str(), 0755);  // ours but open: closed again
    }
    fs::remove(fixed);
    fs::create_directory_symlink(t.path, fixed);
    p = Paths::under(t.path);
    EXPECT_FALSE(ensurePrivateRuntimeDir(p, {{"XDG_CACHE_HOME", t / "cache"}}));
}

// Atomic writes follow the umask. A write the disk refuses half way (here: past
// the file size limit) is reported, and neither the half-written copy nor the old
// file is touched.
TEST(Files, AtomicWritesFollowTheUmaskAndAFailedOneLeavesTheOldFileAndNoCopy) {
    test::TempDir t;
    const mode_t oldMask = ::umask(027);
    ASSERT_TRUE(files::writeAtomic(t / "terms.txt", "old"));
    ::umask(oldMask);
    EXPECT_EQ(fs::status(t / "terms.txt").permissions(), fs::perms(0640));
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 10;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const bool written = files::writeAtomic(t / "terms.txt", std::string(100, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(files::read(t / "terms.txt"), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(t.path), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace zavren
