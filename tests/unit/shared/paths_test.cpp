#include "shared/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "shared/files.h"

namespace zavren {
namespace {
namespace fs = std::filesystem;

struct TempDir {
    std::string path;
    TempDir() {
        std::string t = fs::temp_directory_path().string() + "/zavren-test-XXXXXX";
        path = ::mkdtemp(t.data());
    }
    ~TempDir() { fs::remove_all(path); }
};

TEST(Paths, FollowXdgVariablesAndIgnoreRelativeOnes) {
    Paths p = Paths::fromEnvironment({{"HOME", "/h"},
                                      {"XDG_DATA_HOME", "/d"},
                                      {"XDG_CONFIG_HOME", "relative"},
                                      {"XDG_RUNTIME_DIR", "/run/user/7"}});
    EXPECT_EQ(p.engineRoot, "/d/zavren/engine");
    EXPECT_EQ(p.termsFile, "/h/.config/zavren/terms.txt");
    EXPECT_EQ(p.engineLog, "/h/.local/state/zavren/server.log");
    EXPECT_EQ(p.wav, "/run/user/7/zavren.wav");
}

TEST(Paths, WithoutRuntimeDirTheRecordingStaysInTheHome) {
    Paths p = Paths::fromEnvironment({{"HOME", "/h"}});
    EXPECT_EQ(p.wav, "/h/.cache/zavren/run/zavren.wav");
}

TEST(Paths, PrivateRuntimeDirIsCreatedWithMode0700) {
    TempDir t;
    Paths p = Paths::under(t.path);
    auto env = std::map<std::string, std::string>{{"HOME", t.path}};
    ASSERT_TRUE(ensurePrivateRuntimeDir(p, env));
    struct stat st {};
    ASSERT_EQ(::stat(p.runtimeDir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(p.wav, p.runtimeDir + "/zavren.wav");
}

TEST(Paths, SharedRuntimeDirIsReplacedByAFreshPrivateOne) {
    TempDir t;
    Paths p = Paths::under(t.path);
    fs::create_directories(p.runtimeDir);
    ::chmod(p.runtimeDir.c_str(), 01777);
    auto env = std::map<std::string, std::string>{{"HOME", t.path}};
    const std::string shared = p.runtimeDir;
    ASSERT_TRUE(ensurePrivateRuntimeDir(p, env));
    EXPECT_NE(p.runtimeDir, shared);
    struct stat st {};
    ASSERT_EQ(::stat(p.runtimeDir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(Files, ReadNoFollowRefusesASymlinkedRecording) {
    TempDir t;
    const std::string target = t.path + "/secret";
    const std::string link = t.path + "/zavren.wav";
    ASSERT_TRUE(files::writeAtomic(target, "data"));
    fs::create_symlink(target, link);
    EXPECT_FALSE(files::readNoFollow(link).has_value());
    EXPECT_EQ(files::read(link), "data");
    EXPECT_EQ(files::readNoFollow(target), "data");
}

}  // namespace
}  // namespace zavren
