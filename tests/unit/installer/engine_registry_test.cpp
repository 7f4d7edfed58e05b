#include "engine/installer/engine_registry.h"

#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "engine/locator.h"
#include "shared/version_compare.h"
#include "unit/engine/engine_layout.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;
namespace reg = EngineRegistry;
using namespace std::chrono;
using Status = reg::Result::Status;

TEST(EngineRegistry, NamesAreOneSafeFolderComponentAndDefaultsOrderAfterReleases) {
    const auto t = sys_days{2026y / 12 / 6} + 9h + 59min + 59s;
    EXPECT_EQ(reg::defaultName(t), "local-20261206-095959");
    EXPECT_TRUE(numericLess(reg::defaultName(t), reg::defaultName(t + 1s)));
    EXPECT_TRUE(numericLess("999.99.9", reg::defaultName(t)));
    for (std::string good : {reg::defaultName(t), std::string("0.10.0"), std::string("Az_09+q8")})
        EXPECT_FALSE(reg::nameProblem(good)) << good;
    for (std::string bad : {"", "../x", "a/b", "a..b", ".hidden", "-x", "a b", "a\nb", "é"})
        EXPECT_TRUE(reg::nameProblem(bad)) << bad;
    EXPECT_TRUE(reg::nameProblem(std::string(101, 'a')));
}

struct Registry : ::testing::Test {
    test::TempDir tmp;
    std::string root = tmp.path + "/engine", model = tmp.path + "/model.gguf";
    std::string server = tmp.path + "/server", shared = tmp.path + "/shared";
    const system_clock::time_point now = sys_days{2026y / 12 / 6};
    void SetUp() override {
        test::writeFile(model);
        test::writeFile(server, "#!/bin/sh\n", true);
        test::writeFile(shared, "#!/bin/sh\n", true);
        fs::permissions(shared, fs::perms::others_write, fs::perm_options::add);
        test::makeLlama(root + "/engine-0.10.0");
    }
    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto& e : fs::directory_iterator(root)) out.insert(e.path().filename());
        return out;
    }
};

TEST_F(Registry, RefusalsLeaveTheRootAsItWas) {
    const std::pair<const char*, reg::Result> cases[] = {
        {"model is a folder", reg::add(root, reg::llamaLinks(server, tmp.path, model), {}, now)},
        {"model missing", reg::add(root, reg::llamaLinks(server, root + "/none", model), {}, now)},
        {"server not executable", reg::add(root, reg::llamaLinks(model, model, model), {}, now)},
        {"server others may rewrite",
         reg::add(root, reg::llamaLinks(shared, model, model), {}, now)},
        {"models not a folder", reg::add(root, reg::pythonLinks(server, model, model), {}, now)},
        {"models others may fill",
         reg::add(root, reg::pythonLinks(server, model, "/tmp"), {}, now)},
        {"name taken", reg::add(root, reg::llamaLinks(server, model, model), "0.10.0", now)}};
    for (const auto& [what, r] : cases) EXPECT_EQ(r.status, Status::refused) << what;
    EXPECT_EQ(names(), std::set<std::string>{"engine-0.10.0"});
}

TEST_F(Registry, AddsAbsoluteLinksAndASuffixedNameWhenTheStampIsTakenTwentyTimesAtMost) {
    fs::remove_all(root);  // made when missing
    const auto cwd = fs::current_path();
    fs::current_path(tmp.path);
    auto links = reg::llamaLinks("server", "model.gguf", "model.gguf");
    reg::add(root, links, {}, now);
    const auto second = reg::add(root, links, {}, now);
    fs::current_path(cwd);
    ASSERT_EQ(second.status, Status::done) << second.text;
    EXPECT_EQ(second.text, root + "/engine-local-20261206-000000-2");
    EXPECT_EQ(fs::read_symlink(second.text + "/bin/llama-server"), server);
    EXPECT_EQ(EngineLocator::installed(root)->dir, second.text);

    // A second full of registrations gives up rather than counting on for ever.
    const std::string base = root + "/engine-" + reg::defaultName(now);
    for (int n = 3; n <= 20; ++n) fs::create_directories(base + "-" + std::to_string(n));
    EXPECT_EQ(reg::add(root, reg::llamaLinks(server, model, model), {}, now).status,
              Status::refused);
    EXPECT_FALSE(fs::exists(base + "-21"));
}

TEST_F(Registry, ListsThenRemovesARegisteredEngine) {
    fs::create_directories(tmp.path + "/models");
    const auto added =
        reg::add(root, reg::pythonLinks(server, model, tmp.path + "/models"), "9", now);
    ASSERT_EQ(added.status, Status::done) << added.text;
    fs::remove(model);  // a registered engine whose file went away stops being usable
    const auto entries = reg::list(root);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(entries[0].chosen && !entries[1].chosen);
    EXPECT_EQ(entries[1].kind, std::nullopt);
    EXPECT_EQ(entries[1].files.at(1), std::make_pair(std::string("voice_server.py"), model));
    EXPECT_EQ(reg::remove(root, "9").status, Status::done);
    EXPECT_EQ(names(), std::set<std::string>{"engine-0.10.0"});
    EXPECT_EQ(reg::remove(root, "9").status, Status::refused);
}

}  // namespace
}  // namespace zavren
