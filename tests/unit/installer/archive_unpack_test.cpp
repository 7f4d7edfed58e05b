// Unpacking on the real file system with archives built header by header.
#include "engine/installer/archive_unpack.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "engine/installer/archive_entry.h"
#include "engine/installer/install_from.h"
#include "engine/installer/sha256.h"
#include "shared/files.h"
#include "support/fake_engine.h"
#include "support/tar_gz.h"
#include "support/temp_dir.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;
using test::TarMember;
using T = ArchiveEntry::Type;

TEST(ArchiveEntry, OnlyFilesFoldersAndLinksThatStayInTheirTopFolder) {
    const std::pair<ArchiveEntry, const char*> cases[] = {
        {{"engine-1/bin/x", T::regular, "", 10}, nullptr},
        {{"./engine-1/", T::directory, "", 0}, nullptr},
        {{"engine-1/lib/a.so", T::symlink, "../b/./a.so.1", 0}, nullptr},
        {{"engine-1/a/b/l", T::symlink, "../../c", 0}, nullptr},
        {{"engine-1/dev", T::other, "", 0}, "特殊文件"},
        {{"engine-1/h", T::hardlink, "engine-1/x", 0}, "硬链接"},
        {{"/etc/x", T::regular, "", 1}, "绝对路径"},
        {{"", T::regular, "", 1}, "绝对路径"},
        {{"engine-1/../../x", T::regular, "", 1}, "含 .."},
        {{"engine-1/x", T::regular, "", -1}, "大小无效"},
        {{"engine-1/home", T::symlink, "/home/user", 0}, "符号链接指向外部"},
        {{"engine-1/sl", T::symlink, "../download.partial", 0}, "符号链接指向外部"},
        {{"engine-1/a/sl", T::symlink, "../../engine-1/x", 0}, "符号链接指向外部"},
        {{"engine-1/sl", T::symlink, "a/../../x", 0}, "符号链接指向外部"},
        {{"engine-1/sl", T::symlink, "d/..", 0}, "符号链接指向外部"},
        {{"top", T::symlink, "engine-1", 0}, "符号链接指向外部"},
        {{"engine-1/sl", T::symlink, "", 0}, "符号链接指向外部"},
    };
    for (const auto& [entry, why] : cases) {
        SCOPED_TRACE(entry.name + " -> " + entry.linkTarget);
        EXPECT_EQ(entryRefusal(entry).value_or("ok"), why ? why : "ok");
    }
    ArchiveEntryChecker checker;
    EXPECT_FALSE(checker.check({"engine-1/", T::directory, "", 0}));
    EXPECT_FALSE(checker.check({"engine-1/l", T::symlink, ".", 0}));
    EXPECT_EQ(checker.check({"engine-1/l/x", T::regular, "", 0}), "经由符号链接");
    EXPECT_EQ(checker.check({"engine-1/l", T::regular, "", 0}), "重复条目");
    EXPECT_EQ(checker.check({"engine-1/l", T::directory, "", 0}), "重复条目");
    EXPECT_FALSE(checker.check({"engine-1", T::directory, "", 0})) << "folders come twice";
    EXPECT_EQ(checker.check({"engine-1", T::regular, "", 0}), "重复条目") << "a file over a folder";
}

struct ArchiveUnpack : ::testing::Test {
    test::TempDir tmp;
    std::string root = tmp / "engine", archive = tmp / "a.tar.gz";
    std::optional<std::int64_t> free;
    FreeBytesProbe probe = [this](const std::string&) { return free; };

    void SetUp() override { fs::create_directories(root); }
    std::optional<std::string> unpack(const std::vector<TarMember>& members) {
        files::writeAtomic(archive, test::tarGz(members));
        return unpackEngine(archive, root, probe);
    }
    // What the install root holds besides the engines named.
    std::vector<std::string> entries() {
        std::vector<std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(root))
            out.push_back(e.path().lexically_relative(root).string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

// Each is refused before or while it is written, and leaves nothing behind.
TEST_F(ArchiveUnpack, HostileArchivesLeaveNothing) {
    // A link's header that claims data, hiding the next header from a listing:
    // whatever is made of it, the link out never lands.
    const std::string hidden = test::tarHeader({"engine-9.9/home", '2', "", "/home/user"});
    unpack({{"engine-9.9/", '5'}, {"engine-9.9/ln", '2', hidden, "x", 0777, 512}});
    EXPECT_FALSE(fs::exists(fs::symlink_status(root + "/engine-9.9/home")));
    files::removeTree(root + "/engine-9.9");
    // The name goes into the message: printable and short.
    EXPECT_EQ(unpack({{"engine-9.9/" + std::string(88, 'a') + "\n", '2', "", "/"}}),
              "解压失败:引擎包含有不安全的条目 engine-9.9/" + std::string(88, 'a') +
                  "?...(符号链接指向外部)");

    const std::vector<std::vector<TarMember>> cases = {
        {{"engine-9.9/", '5'}, {"engine-9.9/sl", '2', "", "../download.partial"}},
        {{"engine-9.9/", '5'}, {"engine-9.9/out", '2', "", "."}, {"engine-9.9/out/f", '0', "x"}},
        {{"engine-9.9/a", '0', "checked"}, {"engine-9.9/a", '2', "", "/etc/passwd"}},
        {{"engine-9.9/", '5'}, {"engine-9.9/p", '6'}},
        {{"engine-9.9/", '5'}, {"engine-9.9/../../victim", '0', "x"}},
        {{"engine-9.9/", '5'}, {tmp / "victim", '0', "x"}},
        {{"engine-9.9/", '5'}, {"engine-9.9/big", '0', "", "", 0644, std::int64_t{1} << 30}},
    };
    EXPECT_EQ(
        unpack({{"engine-9.9/", '5'}, {"engine-9.9/huge", '0', "", "", 0644, MAX_UNPACKED_BYTES}}),
        "解压失败:引擎包解压后超过 16 GB")
        << "free space unknown";
    free = std::int64_t{100} << 20;
    for (const auto& members : cases) {
        SCOPED_TRACE(members.back().name);
        auto refusal = unpack(members);
        ASSERT_TRUE(refusal);
        EXPECT_TRUE(refusal->rfind("解压失败:引擎包含有不安全的条目", 0) == 0 ||
                    *refusal == "磁盘空间不足:需要 1025 MB,可用 100 MB,请清理磁盘后重试")
            << *refusal;
        EXPECT_EQ(entries(), std::vector<std::string>{});
        EXPECT_FALSE(fs::exists(tmp / "victim"));
    }
}

// Modes an archive brings are not ours to keep: we must be able to replace and
// remove what we installed, and others must not be able to change it.
TEST_F(ArchiveUnpack, ModesAreNormalisedSoTheEngineCanBeReplacedAndRemoved) {
    const std::vector<TarMember> engine = {{"engine-2/", '5', "", "", 0500},
                                           {"engine-2/m", '0', "model", "", 0400},
                                           {"engine-2/run", '0', "#!", "", 04777}};
    ASSERT_EQ(unpack(engine), std::nullopt);
    auto mode = [&](const std::string& name) {
        struct stat st {};
        ::lstat((root + "/" + name).c_str(), &st);
        return st.st_mode & 07777;
    };
    const mode_t mask = files::currentUmask();
    EXPECT_EQ(mode("engine-2"), 0700 & ~mask);
    EXPECT_EQ(mode("engine-2/m"), 0600 & ~mask);
    EXPECT_EQ(mode("engine-2/run"), 0755 & ~mask);
    ASSERT_EQ(unpack(engine), std::nullopt) << "replaced";
    EXPECT_EQ(files::read(root + "/engine-2/m"), "model");

    // One unpacked before modes were normalised.
    ::chmod((root + "/engine-2/m").c_str(), 0400);
    ::chmod((root + "/engine-2").c_str(), 0500);
    EXPECT_TRUE(files::removeTree(root + "/engine-2"));
    EXPECT_EQ(entries(), std::vector<std::string>{});
}

TEST_F(ArchiveUnpack, AnArchiveFromElsewhereIsCheckedBeforeItIsInstalled) {
    const std::string bytes = test::tarGz({{"engine-3/", '5'}, {"engine-3/x", '0', "x"}});
    files::writeAtomic(archive, bytes);
    Sha256 h;
    h.update(bytes.data(), bytes.size());
    std::string upper = h.hexDigest();
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const auto size = static_cast<std::int64_t>(bytes.size());
    EXPECT_EQ(verifyAndUnpack({"", upper, size + 1}, archive, root, probe), "校验失败:大小不符");
    EXPECT_EQ(verifyAndUnpack({"", std::string(64, '0'), size}, archive, root, probe),
              "校验失败(文件损坏)");
    EXPECT_EQ(verifyAndUnpack({"", upper.substr(0, 40), size}, archive, root, probe),
              "引擎信息无效:sha256 应为 64 位十六进制数");
    EXPECT_EQ(entries(), std::vector<std::string>{});
    EXPECT_EQ(verifyAndUnpack({"", upper, size}, archive, root, probe), std::nullopt);
    EXPECT_EQ(entries(), (std::vector<std::string>{"engine-3", "engine-3/x"}));

    // What came on a stick is checked against its engine.json, then installed.
    test::writeFile(tmp / "usb/engine-3.tar.gz", bytes);
    test::writeFile(tmp / "usb/engine.json",
                    R"({"version":"3","url":"https://x/engine-3.tar.gz","sha256":")" + upper +
                        R"(","size":)" + std::to_string(size) + "}");
    auto located = InstallFrom::locate(tmp / "usb");
    ASSERT_TRUE(std::holds_alternative<InstallFrom::Package>(located));
    EXPECT_TRUE(InstallFrom::install(std::get<InstallFrom::Package>(located), tmp / "engines")
                    .is<InstallPhase::Done>());
    EXPECT_TRUE(fs::exists(tmp / "engines/engine-3/x"));
}

}  // namespace
}  // namespace zavren
