#include "shared/paths.h"

#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "shared/files.h"
#include "support/temp_dir.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;

unsigned modeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(Paths, FollowXdgVariablesIgnoringRelativeOnes) {
    Paths p = Paths::fromEnvironment(
        {{"HOME", "/h"}, {"XDG_DATA_HOME", "/d"}, {"XDG_CONFIG_HOME", "relative"}});
    EXPECT_EQ(p.engineRoot, "/d/zavren/engine");
    EXPECT_EQ(p.termsFile, "/h/.config/zavren/terms.txt");
    EXPECT_EQ(p.wav, "/h/.cache/zavren/run/zavren.wav");
}

TEST(Paths, AnUnusableRuntimeDirFallsBackToOneFixedPrivateFolder) {
    test::TempDir t;
    const std::map<std::string, std::string> env{{"HOME", t.path}, {"XDG_CACHE_HOME", t / "cache"}};
    const std::string fixed = t / "cache/zavren/run";
    for (int start = 0; start < 2; ++start) {
        Paths p = Paths::under(t.path);
        fs::create_directories(p.runtimeDir);
        ::chmod(p.runtimeDir.c_str(), 01777);
        ASSERT_TRUE(ensurePrivateRuntimeDir(p, env));
        EXPECT_EQ(p.wav, fixed + "/zavren.wav") << "the same folder at every start";
        EXPECT_EQ(modeOf(fixed), 0700u);
        ::chmod(fixed.c_str(), 0755);  // ours but open: closed again
    }
    fs::remove(fixed);
    fs::create_directory_symlink(t / "elsewhere", fixed);
    fs::create_directories(t / "elsewhere");
    Paths p = Paths::under(t.path);
    EXPECT_FALSE(ensurePrivateRuntimeDir(p, env)) << "a link is refused";
}

TEST(Files, AtomicWritesFollowTheUmaskAndTheRecordingIsNotReadThroughALink) {
    test::TempDir t;
    const mode_t old = ::umask(027);
    const bool written = files::writeAtomic(t / "terms.txt", "data");
    ::umask(old);
    ASSERT_TRUE(written);
    EXPECT_EQ(modeOf(t / "terms.txt"), 0640u);
    fs::create_symlink(t / "terms.txt", t / "zavren.wav");
    EXPECT_FALSE(files::readNoFollow(t / "zavren.wav").has_value());
    EXPECT_EQ(files::readNoFollow(t / "terms.txt"), "data");
}

}  // namespace
}  // namespace zavren
