#include "app/autostart.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "shared/files.h"
#include "support/temp_dir.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;
using Autostart::Owner;
using Autostart::Result;

struct AutostartFile : ::testing::Test {
    test::TempDir tmp;
    std::string file = tmp / "config/autostart/zavren.desktop";
    void put(const std::string& text) {
        fs::create_directories(fs::path(file).parent_path());
        std::ofstream(file) << text;
    }
};

TEST_F(AutostartFile, WrittenWholeAndReadableThenRemovedOnTheNextToggle) {
    EXPECT_EQ(Autostart::toggle(file, "build/zavren"), Result::failed) << "not a path to run";
    const mode_t old = ::umask(077);
    EXPECT_EQ(Autostart::toggle(file, "/usr/bin/zavren"), Result::on);
    ::umask(old);
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0644));
    EXPECT_EQ(Autostart::toggle(file, "/usr/bin/zavren"), Result::off);
    EXPECT_FALSE(fs::exists(fs::symlink_status(file)));
}

TEST_F(AutostartFile, ExecQuotesAndEscapesAnyPath) {
    const std::string exec = R"(Exec="/opt/a \\"b\\"/50%%/\\$x\\`\\\\zavren")";
    const std::string text = Autostart::entry(R"(/opt/a "b"/50%/$x`\zavren)");
    EXPECT_NE(text.find("\n" + exec + "\n"), std::string::npos) << text;
    for (const std::string bad : {"", "build/zavren", "/tmp/a\nHidden=true"})
        EXPECT_EQ(Autostart::entry(bad), "") << bad;
}

TEST_F(AutostartFile, AnotherEntryIsNeverTouchedButItsStateIsShown) {
    for (auto [text, enabled] : std::vector<std::pair<std::string, bool>>{
             {"[Desktop Entry]\nExec=zavren\n", true},
             {"[Desktop Entry]\nExec=zavren\n  Hidden = true \n", false},
             {"[Desktop Entry]\nX-Zavren-Autostart=true\n#" + std::string(1 << 16, 'x'), true},
             // The marker only counts in the main group.
             {"[Desktop Entry]\nExec=zavren\n[Desktop Action x]\nX-Zavren-Autostart=true\n",
              true}}) {
        put(text);
        EXPECT_EQ(Autostart::status(file), (Autostart::Status{Owner::foreign, enabled})) << text;
        EXPECT_EQ(Autostart::toggle(file, "/usr/bin/zavren"), Result::notOurs);
        EXPECT_EQ(files::read(file), text);
    }
    fs::remove(file);
    fs::create_symlink(tmp / "theirs.desktop", file);
    EXPECT_EQ(Autostart::status(file), (Autostart::Status{Owner::foreign, true})) << "a link";
    Autostart::toggle(file, "/usr/bin/zavren");
    EXPECT_TRUE(fs::is_symlink(file));
}

TEST_F(AutostartFile, OursSwitchedOffElsewhereIsSwitchedBackOnAndFailuresAreReported) {
    put(Autostart::entry("/old/zavren") + "X-GNOME-Autostart-enabled=false\n");
    EXPECT_EQ(Autostart::toggle(file, "/usr/bin/zavren"), Result::on);
    EXPECT_EQ(files::read(file), Autostart::entry("/usr/bin/zavren"));

    fs::remove_all(tmp / "config/autostart");
    std::ofstream(tmp / "config/autostart") << "a file where the folder should be";
    EXPECT_EQ(Autostart::toggle(file, "/usr/bin/zavren"), Result::failed);
}

}  // namespace
}  // namespace zavren
