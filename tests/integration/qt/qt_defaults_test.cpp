// Settings through QSettings on the real file system.
#include "qt/qt_defaults.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "fakes/fake_ports.h"
#include "shared/files.h"
#include "support/temp_dir.h"

namespace zavren {
namespace {

// A FIFO or a huge file in place of settings.ini is left alone: start-up goes on
// with the defaults, this run's changes stay in memory, one line says why.
TEST(QtDefaults, AFileThatIsNoSmallRegularFileIsIgnoredWithALogLine) {
    for (bool fifo : {true, false}) {
        test::TempDir t;
        const std::string file = t / "settings.ini";
        if (fifo)
            ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
        else
            files::writeAtomic(file, "[General]\nk=bool:true\n" + std::string(1 << 20, '#'));
        fakes::FakeLog log;
        {
            QtDefaults defaults(t.path, &log);
            EXPECT_EQ(defaults.boolValue("k"), std::nullopt);
            defaults.setBool("k", false);
            EXPECT_EQ(defaults.boolValue("k"), false);
        }
        EXPECT_EQ(log.lines.size(), 1u);
        EXPECT_EQ(log.countStartingWith("ZAVREN: 设置文件 " + file), 1u);
    }
    test::TempDir t;
    {
        QtDefaults defaults(t.path);
        defaults.setString("s", "v");
    }
    EXPECT_EQ(QtDefaults(t.path).stringValue("s"), "v") << "a plain file is still used";
}

}  // namespace
}  // namespace zavren
