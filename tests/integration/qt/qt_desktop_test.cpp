// Opening a file through a stand-in xdg-open: only its exit status tells whether an
// application took the file.
#include "qt/qt_desktop.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <filesystem>
#include <optional>

#include "shared/files.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"
#include "text/terms.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;

// Alert texts may come from a server: shown as plain, selectable text, a link in
// them opens nothing.
TEST(QtDesktopTest, AlertTextsArePlainAndSelectable) {
    test::QtApp<QApplication> qt;
    QtDesktop().showAlert({"<b>x</b>", "<a href=\"https://e.org\">e</a>", {}}, nullptr);
    int texts = 0;
    for (QWidget* box : QApplication::topLevelWidgets()) {
        for (QLabel* label : box->findChildren<QLabel*>()) {
            texts += !label->text().isEmpty();
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
            EXPECT_FALSE(label->openExternalLinks());
            EXPECT_EQ(label->textInteractionFlags(), Qt::TextSelectableByMouse);
        }
        box->close();
    }
    EXPECT_EQ(texts, 2);
}

// The desktop's handler for text is asked first; a browser, or no handler at all,
// never gets the terms file, and no browser the system might fall back to starts.
TEST(QtDesktopTest, TheTermsFileIsNeverHandedToAWebBrowser) {
    test::QtApp<QApplication> qt;
    test::TempDir t;
    const std::string bin = t / "bin", apps = t / "share/applications";
    fs::create_directories(bin);
    fs::create_directories(apps);
    const std::string browsed = "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + t / "browser" + "'\n";
    for (const char* browser : {"firefox", "x-www-browser", "sensible-browser", "chromium"})
        files::writeAtomic(bin + "/" + browser, browsed, 0755);
    files::writeAtomic(
        apps + "/web.desktop",
        "[Desktop Entry]\nName=Web\nExec=firefox %u\nCategories=Network;WebBrowser;\n");
    files::writeAtomic(apps + "/ed.desktop",
                       "[Desktop Entry]\nName=Ed\nExec=ed %f\nMimeType=text/plain;\n");
    ::setenv("PATH", bin.c_str(), 1);
    ::setenv("BROWSER", (bin + "/firefox").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (t / "nothing").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (t / "share").c_str(), 1);
    // The file must arrive whole as one argument.
    const std::string terms = t / "config/terms file.txt",
                      opener = "#!/bin/sh\nprintf '%s\\n' \"$#:$1\" >> '" + t / "opened" + "'\n";

    struct Row {
        const char* xdgMime;  // nullptr: not installed
        std::optional<TermsNotOpened> told;
        const char* xdgOpen = nullptr;  // instead of the opener; exit 3 is "no tool found"
    } rows[] = {{"echo ed.desktop", TermsNotOpened::noApplication, "exit 3"},
                {"echo web.desktop", TermsNotOpened::browser},
                {"echo gone.desktop", TermsNotOpened::browser},
                {"exit 0", TermsNotOpened::noApplication},
                {nullptr, TermsNotOpened::noApplication},
                {"test \"$*\" = 'query default text/plain' && echo ed.desktop", std::nullopt}};
    QtDesktop desktop;
    for (const auto& row : rows) {
        const std::string script = row.xdgMime ? row.xdgMime : "";
        if (row.xdgMime)
            files::writeAtomic(bin + "/xdg-mime", "#!/bin/sh\n" + script + "\n", 0755);
        else
            fs::remove(bin + "/xdg-mime");
        files::writeAtomic(bin + "/xdg-open",
                           row.xdgOpen ? "#!/bin/sh\n" + std::string(row.xdgOpen) : opener, 0755);
        std::optional<TermsNotOpened> told;
        openTerms(terms, desktop, [&](const std::string&, TermsNotOpened why) { told = why; });
        QElapsedTimer waited;
        waited.start();
        // The opener's line, once written whole, tells that it ran.
        const auto ran = [&] {
            return files::read(t / "opened").value_or("").find('\n') != std::string::npos;
        };
        while (!told && !ran() && waited.elapsed() < 10000)
            qt.app.processEvents(QEventLoop::AllEvents, 50);
        EXPECT_EQ(told, row.told) << script;
        EXPECT_EQ(fs::exists(t / "opened"), !row.told) << script;
    }
    EXPECT_EQ(files::read(t / "opened"), "1:" + terms + "\n");
    EXPECT_FALSE(fs::exists(t / "browser")) << *files::read(t / "browser");
}

}  // namespace
}  // namespace zavren
