// First run on the test desktop: no engine installed, the downloads come from a
// loopback server that drops the archive once; the user presses the window's
// buttons from the keyboard until the engine is installed and running.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QImage>
#include <filesystem>

#include "setup/window_port.h"
#include "shared/files.h"
#include "support/temp_dir.h"
#include "support/wait_for.h"
#include "system/harness/desktop_env.h"

extern char** environ;

namespace zavren {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string sh(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

bool engineAnswers() {
    return sh("curl -s -m 1 -o /dev/null -w '%{http_code}' http://127.0.0.1:8765/health") == "200";
}

// A child of ours with its output in files, stopped with SIGTERM and reaped when it goes.
struct Child {
    pid_t pid = -1;
    Child(std::vector<std::string> argv, const std::string& out) {
        posix_spawn_file_actions_t io;
        posix_spawn_file_actions_init(&io);
        posix_spawn_file_actions_addopen(&io, 1, (out + ".out").c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_addopen(&io, 2, (out + ".err").c_str(), O_WRONLY | O_CREAT, 0600);
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        posix_spawnp(&pid, args[0], &io, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&io);
    }
    ~Child() {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
};

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

TEST(FirstRun, ADroppedDownloadIsRetriedFromWhereItStoppedThenTheEngineRuns) {
    ASSERT_TRUE(desktop::available()) << "run through ctest";
    ASSERT_TRUE(test::waitFor([] { return !engineAnswers(); }, 60s)) << "port 8765 is taken";
    test::TempDir dir;
    const fs::path engine = dir / "engine-1.0.0";
    fs::create_directories(engine / "models");
    fs::create_directories(engine / "bin");
    fs::create_directories(dir / "downloads");
    fs::copy_file(ZAVREN_FAKE_ENGINE, engine / "bin" / "llama-server");
    files::writeAtomic(engine / "models" / "qwen3-asr.gguf", "{}");
    files::writeAtomic(engine / "models" / "mmproj.gguf", "x");

    Child server(
        {ZAVREN_SERVE_DOWNLOADS, "--verbose", "--throttle", "400K", "--drop-after", "300000",
         "--drop-once", "--only", "engine-1.0.0-linux-x86_64.tar.gz", dir / "downloads"},
        dir / "serve");
    std::string base;
    ASSERT_TRUE(test::waitFor([&] {
        base = files::read(dir / "serve.out").value_or("");
        return base.find('\n') != std::string::npos;
    }));
    base.resize(base.find('\n'));
    sh(std::string(ZAVREN_PACK_ENGINE) + " --base-url " + base + " --platform linux-x86_64=" +
       engine.string() + " " + engine.string() + " " + (dir / "downloads"));

    const std::string home = dir / "home";
    for (auto [name, value] : {std::pair{"HOME", home},
                               {"XDG_DATA_HOME", home + "/data"},
                               {"XDG_CONFIG_HOME", home + "/config"},
                               {"XDG_STATE_HOME", home + "/state"},
                               {"XDG_RUNTIME_DIR", dir / "run"},
                               {"ZAVREN_UPDATE_BASE", base},
                               {"QT_QPA_PLATFORM", std::string("xcb")}})
        ::setenv(name, value.c_str(), 1);
    fs::create_directories(dir / "run");
    fs::permissions(dir / "run", fs::perms::owner_all, fs::perm_options::replace);
    {
        Child app({ZAVREN_APP}, dir / "app");
        const std::string window =
            sh("timeout 20 xdotool search --sync --onlyvisible --pid " + std::to_string(app.pid) +
               " --name '" + ONBOARDING_TITLE + "' | head -1 | tr -d '\\n'");
        ASSERT_FALSE(window.empty()) << files::read(dir / "app.err").value_or("");
        const std::string press = "xdotool windowactivate --sync " + window + " key Tab space";
        // One press at a time: a press after the drop would retry before we saw it. A
        // press may land on a permission button shown until the sound server answers.
        const std::string partial = home + "/data/zavren/engine/download.partial";
        for (int i = 0; i < 5 && !fs::exists(partial); ++i) {
            sh(press);
            test::waitFor([&] { return fs::exists(partial); }, 3s);
        }
        ASSERT_TRUE(fs::exists(partial)) << "the download did not start";
        ASSERT_TRUE(test::waitFor([&] { return orangePixels(window, dir / "shot.png") > 30; }, 30s))
            << "no failure shown";
        sh(press);
        EXPECT_TRUE(test::waitFor(engineAnswers, 60s)) << "the engine did not start";
        EXPECT_TRUE(fs::is_directory(home + "/data/zavren/engine/engine-1.0.0"));
    }
    EXPECT_TRUE(test::waitFor([] { return !engineAnswers(); }, 5s)) << "the engine outlived us";
    const std::string log = files::read(dir / "serve.err").value_or("");
    EXPECT_NE(log.find("Range: bytes="), std::string::npos) << log;
    EXPECT_NE(log.find("-> 206"), std::string::npos) << log;
}

}  // namespace
}  // namespace zavren
