#include "posix/system_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include <gtest/gtest.h>

#include "shared/files.h"
#include "support/temp_dir.h"

namespace zavren {
namespace {

TEST(SystemLog, PrivateTimestampedFileRotatedIntoOneOldCopyAndNeverALink) {
    test::TempDir dir;
    files::writeAtomic(dir / "precious", "keep");
    ::symlink((dir / "precious").c_str(), (dir / "linked.log").c_str());
    StderrSyslog(dir / "linked.log").line("x");
    EXPECT_EQ(files::read(dir / "precious"), "keep");

    const std::string file = dir / "state/zavren.log";
    StderrSyslog(file).line("ZAVREN: 一行");
    EXPECT_TRUE(
        std::regex_match(*files::read(file),
                         std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ZAVREN: 一行\n")));
    ::chmod(file.c_str(), 0644);
    StderrSyslog log(file);
    struct stat st {};
    ::stat(file.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const int saved = ::dup(2);  // a megabyte of x on the test's output helps nobody
    ::freopen("/dev/null", "w", stderr);
    for (int i = 0; i < 2 * 260; ++i) log.line(std::string(4096, 'x'));
    ::dup2(saved, 2);
    ASSERT_TRUE(files::read(file + ".1"));
    EXPECT_GE(files::read(file + ".1")->size(), std::size_t(StderrSyslog::MAX_FILE_BYTES));
    EXPECT_LT(files::read(file)->size(), std::size_t(StderrSyslog::MAX_FILE_BYTES));
    EXPECT_FALSE(files::read(file + ".2"));
}

}  // namespace
}  // namespace zavren
