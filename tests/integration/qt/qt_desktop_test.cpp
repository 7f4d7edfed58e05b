// Opening a file through a stand-in xdg-open: only its exit status tells whether an
// application took the file.
#include "qt/qt_desktop.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <filesystem>
#include <optional>

#include "shared/files.h"
#include "support/temp_dir.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;

TEST(QtDesktop, OpenFileSaysWhetherAnApplicationTookTheFile) {
    int argc = 1;
    char name[] = "itest_qt";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    test::TempDir t;
    const std::string file = t / "terms file.txt";
    QtDesktop desktop;
    // The file must arrive whole as one argument; exit 3 is xdg-open's "no tool found".
    for (auto [script, expected] : {std::pair{"test -f \"$1\"", true}, {"exit 3", false}}) {
        ASSERT_TRUE(files::writeAtomic(file, "x"));
        fs::create_directories(t / "bin");
        files::writeAtomic(t / "bin/xdg-open", std::string("#!/bin/sh\n") + script, 0755);
        ::setenv("PATH", (t / "bin").c_str(), 1);
        std::optional<bool> opened;
        desktop.openFile(file, [&](bool ok) { opened = ok; });
        QElapsedTimer waited;
        waited.start();
        while (!opened && waited.elapsed() < 10000) app.processEvents(QEventLoop::AllEvents, 50);
        EXPECT_EQ(opened, expected) << script;
    }
}

}  // namespace
}  // namespace zavren
