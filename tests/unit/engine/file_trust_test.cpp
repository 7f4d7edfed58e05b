#include "engine/file_trust.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "unit/engine/engine_layout.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;

// What another user could rewrite is refused, links resolved first.
TEST(FileTrust, OnlyWhatNobodyElseCanRewriteIsTrusted) {
    test::TempDir tmp;
    const std::string t = tmp.path;
    test::writeFile(t + "/ok");
    test::writeFile(t + "/gw");
    ::chmod((t + "/gw").c_str(), 0664);
    test::writeFile(t + "/open/x");
    ::chmod((t + "/open").c_str(), 0777);
    test::writeFile(t + "/theirs/x");
    fs::create_symlink(t + "/theirs/x", t + "/link");
    fs::create_symlink(t + "/open/x", t + "/link-open");
    // Root plays another user by giving the files away; anyone else by asking as one.
    uid_t me = ::geteuid(), asker = me == 0 ? 0 : me + 1;
    if (me == 0) {
        ASSERT_EQ(::chown((t + "/theirs/x").c_str(), 4321, 4321), 0);
    }
    const std::string others = "可被其他用户改写,不安全";
    const std::tuple<std::string, uid_t, std::string> cases[] = {
        {t + "/ok", me, ""},
        {t + "/gw", me, others},
        {t + "/open/x", me, "所在文件夹 " + t + "/open " + others},
        {t + "/link-open", me, "所在文件夹 " + t + "/open " + others},
        {t + "/theirs/x", asker, "属于其他用户,不安全"},
        {t + "/link", asker, "属于其他用户,不安全"},
        {"/tmp", me, others},  // sticky is fine above a file, not as the folder itself
        {t + "/missing", me, "无法访问"},
    };
    for (const auto& [path, uid, why] : cases) {
        if (me != 0 && path.find("/theirs") != std::string::npos) continue;
        EXPECT_EQ(untrustedPath(path, uid).value_or(""), why) << path;
    }
    Resolved r{EngineKind::python, t + "/ok", {"-x", t + "/gw"}, {{"HF_HOME", t + "/none"}}, ""};
    EXPECT_EQ(untrustedLaunch(r, me), t + "/gw " + others);
}

}  // namespace
}  // namespace zavren
