// First run on the test desktop, no engine installed, each way the window offers:
// a download from a loopback server that drops the archive once; programs and
// models already on disk; an engine.json and archive fetched elsewhere. The user
// presses the window's buttons from the keyboard and types into the file dialogues.
#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <sstream>
#include <thread>

#include "desktop/desktop_env.h"
#include "setup/window_port.h"
#include "shared/files.h"
#include "support/run_program.h"
#include "support/wait_for.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string sh(const std::string& command) {
    return test::runProgram("/bin/sh", {"-c", command}).out;
}

bool engineAnswers() {
    return sh("curl -s -m 1 -o /dev/null -w '%{http_code}' http://127.0.0.1:8765/health") == "200";
}

// How much of the window is the orange of a failure message.
int orangePixels(const std::string& window, const std::string& shot) {
    sh("import -window " + window + " " + shot);
    QImage image(QString::fromStdString(shot));
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            QColor c = image.pixelColor(x, y);
            n += c.red() > 200 && c.green() > 110 && c.green() < 190 && c.blue() < 90;
        }
    return n;
}

// The id of a visible window of pid whose whole title is `title` (matched here:
// xdotool's own matching ignores case and joins conditions with "or"), once one shows.
std::string findWindow(pid_t pid, const std::string& title, int seconds = 20) {
    std::string id;
    test::waitFor(
        [&] {
            const std::string listing =
                sh("for w in $(xdotool search --onlyvisible --pid " + std::to_string(pid) +
                   " 2>/dev/null); do echo \"$w $(xdotool getwindowname $w 2>/dev/null)\"; done");
            std::istringstream lines(listing);
            for (std::string line; std::getline(lines, line);) {
                const auto space = line.find(' ');
                if (space != std::string::npos && line.substr(space + 1) == title) {
                    id = line.substr(0, space);
                    return true;
                }
            }
            return false;
        },
        std::chrono::seconds(seconds));
    return id;
}

// Gives the window the keyboard, once the window manager has taken it on, and
// sends it keys.
bool keys(const std::string& id, const std::string& keys) {
    return test::waitFor(
        [&] {
            return sh("xdotool windowactivate --sync " + id + " >/dev/null 2>&1 && xdotool " +
                      keys + " >/dev/null 2>&1 && echo ok") == "ok\n";
        },
        10s);
}

// The titles of the visible windows of pid, for a failure message.
std::string windowsOf(pid_t pid) {
    return sh("for w in $(xdotool search --onlyvisible --pid " + std::to_string(pid) +
              " 2>/dev/null); do xdotool getwindowname $w; done 2>/dev/null");
}

// A fake engine laid out as a downloaded engine would be, at dir.
void makeEngine(const fs::path& dir) {
    fs::create_directories(dir / "models");
    fs::create_directories(dir / "bin");
    fs::copy_file(ZAVREN_FAKE_ENGINE, dir / "bin" / "llama-server");
    files::writeAtomic(dir / "models" / "qwen3-asr.gguf", "{}");
    files::writeAtomic(dir / "models" / "mmproj.gguf", "x");
}

// The program under a private home, its first-run window on screen with both
// permissions settled, so that the install step's buttons are the window's:
// 开始下载 (or 重试), 使用已有引擎…, 从文件安装…. The window keeps the keyboard on
// the button of the same action, else on the first one.
struct FirstRunWays : ::testing::Test {
    test::TempDir dir;
    std::string home = dir / "home", engines = home + "/data/zavren/engine";
    std::string shots = std::string(ZAVREN_BINARY_DIR) + "/screenshots/first-run";
    std::unique_ptr<test::Background> app;
    std::string window;

    void SetUp() override {
        ASSERT_TRUE(desktop::available()) << "run through ctest";
        ASSERT_TRUE(test::waitFor([] { return !engineAnswers(); }, 60s)) << "port 8765 is taken";
        fs::create_directories(shots);
    }
    // Nothing listens at the default base: this machine is offline.
    void launch(const std::string& base = "http://127.0.0.1:9/dl") {
        auto vars = test::homeVars(home);
        vars.merge(std::map<std::string, std::string>{{"ZAVREN_UPDATE_BASE", base},
                                                      {"QT_QPA_PLATFORM", "xcb"}});
        for (const auto& [name, value] : vars) ::setenv(name.c_str(), value.c_str(), 1);
        fs::create_directories(home + "/run");
        fs::permissions(home + "/run", fs::perms::owner_all, fs::perm_options::replace);
        app = std::make_unique<test::Background>(std::vector<std::string>{ZAVREN_APP},
                                                 dir / "app.out", dir / "app.err");
        window = findWindow(app->pid, ONBOARDING_TITLE);
        ASSERT_FALSE(window.empty()) << files::read(dir / "app.err").value_or("");
        // The permissions are polled once a second; a button that goes away moves
        // the keyboard order.
        std::this_thread::sleep_for(2500ms);
    }
    void TearDown() override {
        app.reset();
        EXPECT_TRUE(test::waitFor([] { return !engineAnswers(); }, 5s)) << "the engine outlived us";
    }
    void shot(const std::string& id, const std::string& name) {
        sh("import -window " + id + " " + shots + "/" + name + ".png");
    }
    // Presses the n-th button of the window from the keyboard, from the one that has
    // the focus. Every state the tests go through has the download button first, so
    // that after a change the focus is on the button pressed or on the first.
    int focused = 1;
    void press(int n) {
        std::string tabs;
        for (int i = focused; i < n; ++i) tabs += " Tab";
        ASSERT_TRUE(keys(window, "key" + tabs + " space"));
        focused = n;
    }
    bool pressUntil(int n, const std::function<bool()>& happened) {
        press(n);
        return test::waitFor(happened, 20s);
    }
    bool shown(const std::string& title) { return !findWindow(app->pid, title, 1).empty(); }
    // Waits for the file dialogue, types the path into its name field and opens it.
    void chooseFile(const std::string& title, const std::string& path) {
        const std::string dialog = findWindow(app->pid, title);
        ASSERT_FALSE(dialog.empty()) << "no dialogue " << title << "; shown:\n"
                                     << windowsOf(app->pid);
        shot(dialog, "dialog-" + fs::path(path).filename().string());
        // What follows (the next dialogue, an alert, the engine) shows that it took the file.
        ASSERT_TRUE(keys(dialog, "type --delay 20 '" + path + "'"));
        ASSERT_TRUE(keys(dialog, "key Return"));
    }
    // Answers the alert on screen with its default button.
    std::string acceptAlert(const std::string& name) {
        const std::string alert = findWindow(app->pid, "ZAVREN");
        if (alert.empty()) return alert;
        shot(alert, name);
        keys(alert, "key Return");
        return alert;
    }
    void expectRunningAndShownReady(const std::string& name) {
        EXPECT_TRUE(test::waitFor(engineAnswers, 60s)) << "the engine did not start";
        std::this_thread::sleep_for(1500ms);  // the window re-reads the engine state each second
        shot(window, name);
        EXPECT_EQ(orangePixels(window, dir / "check.png"), 0) << "a failure is still shown";
    }
};

TEST_F(FirstRunWays, AnEngineAlreadyOnDiskIsChosenThroughTheDialoguesAndRuns) {
    ASSERT_NO_FATAL_FAILURE(launch());
    const fs::path mine = dir / "mine";
    makeEngine(mine);
    shot(window, "offline-idle");
    // The download, which cannot reach its server.
    ASSERT_TRUE(pressUntil(1, [&] { return orangePixels(window, dir / "shot.png") > 30; }))
        << "no failure shown";
    shot(window, "offline-failed");
    ASSERT_TRUE(pressUntil(2, [&] { return shown("ZAVREN"); })) << "no choice of engine kind";
    ASSERT_FALSE(acceptAlert("use-existing-kind").empty()) << "no choice of engine kind";
    chooseFile("选择 llama-server 程序", mine / "bin/llama-server");
    chooseFile("选择模型文件", mine / "models/qwen3-asr.gguf");
    chooseFile("选择 mmproj 投影文件", mine / "models/mmproj.gguf");
    ASSERT_FALSE(acceptAlert("use-existing-done").empty()) << "no word of the registration";
    expectRunningAndShownReady("use-existing-ready");
    std::error_code ec;
    fs::directory_iterator registered(engines, ec);
    ASSERT_NE(registered, fs::directory_iterator()) << "nothing registered";
    EXPECT_EQ(fs::read_symlink(registered->path() / "models/qwen3-asr.gguf"),
              mine / "models/qwen3-asr.gguf");
    EXPECT_NE(files::read(home + "/state/zavren/zavren.log").value_or("").find("引擎下载失败"),
              std::string::npos)
        << "the offline download's failure is not in the log";
}

TEST_F(FirstRunWays, AnEngineFetchedElsewhereIsInstalledFromItsFilesAndRuns) {
    ASSERT_NO_FATAL_FAILURE(launch());
    const fs::path engine = dir / "engine-3.0.0", fetched = dir / "usb";
    makeEngine(engine);
    fs::create_directories(fetched);
    sh(std::string(ZAVREN_PACK_ENGINE) + " --base-url https://downloads.invalid/z " +
       engine.string() + " " + fetched.string());
    ASSERT_TRUE(fs::exists(fetched / "engine-3.0.0.tar.gz"));
    const std::string title = "选择 engine.json(引擎包须在同一文件夹)";
    ASSERT_TRUE(pressUntil(3, [&] { return shown(title); })) << "no file dialogue";
    chooseFile(title, fetched / "engine.json");
    expectRunningAndShownReady("install-from-file-ready");
    EXPECT_TRUE(fs::is_directory(engines + "/engine-3.0.0"));
}

TEST_F(FirstRunWays, ADroppedDownloadIsRetriedFromWhereItStoppedThenTheEngineRuns) {
    const fs::path engine = dir / "engine-1.0.0";
    makeEngine(engine);
    fs::create_directories(dir / "downloads");
    test::Background server(
        {ZAVREN_SERVE_DOWNLOADS, "--verbose", "--throttle", "400K", "--drop-after", "300000",
         "--drop-once", "--only", "engine-1.0.0-linux-x86_64.tar.gz", dir / "downloads"},
        dir / "serve.out", dir / "serve.err");
    std::string base;
    ASSERT_TRUE(test::waitFor([&] {
        base = files::read(dir / "serve.out").value_or("");
        return base.find('\n') != std::string::npos;
    }));
    base.resize(base.find('\n'));
    sh(std::string(ZAVREN_PACK_ENGINE) + " --base-url " + base + " --platform linux-x86_64=" +
       engine.string() + " " + engine.string() + " " + (dir / "downloads"));
    ASSERT_NO_FATAL_FAILURE(launch(base));
    // One press at a time: a press after the drop would retry before we saw it.
    const std::string partial = engines + "/download.partial";
    ASSERT_TRUE(pressUntil(1, [&] { return fs::exists(partial); })) << "no download started";
    ASSERT_TRUE(test::waitFor([&] { return orangePixels(window, dir / "shot.png") > 30; }, 30s))
        << "no failure shown";
    press(1);
    expectRunningAndShownReady("download-ready");
    EXPECT_TRUE(fs::is_directory(engines + "/engine-1.0.0"));
    const std::string log = files::read(dir / "serve.err").value_or("");
    EXPECT_NE(log.find("Range: bytes="), std::string::npos) << log;
    EXPECT_NE(log.find("-> 206"), std::string::npos) << log;
}

}  // namespace
}  // namespace zavren
