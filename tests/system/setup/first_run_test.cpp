// First run end to end on the test desktop: no engine installed, the downloads
// come from a loopback server, the user clicks through the first-run window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "child.h"
#include "fakes/fake_dispatcher.h"
#include "fakes/fake_installer.h"
#include "fakes/fake_ports.h"
#include "qt/windows/onboarding_window.h"
#include "setup/window_port.h"
#include "system/harness/desktop_env.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using systest::capture;
using systest::Child;
using systest::waitFor;

constexpr int ENGINE_PORT = 8765;

std::string readFile(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct WindowInfo {
    bool viewable = false;
    int x = 0, y = 0, width = 0, height = 0;
};

// xwininfo, unlike xdotool's geometry, reports where the client area really is
// under a reparenting window manager.
std::optional<WindowInfo> windowInfo(const std::string& id) {
    int rc = 0;
    std::string out = capture({"xwininfo", "-id", id}, &rc);
    if (rc != 0) return std::nullopt;
    auto field = [&](const std::string& name) {
        std::smatch m;
        std::regex re(name + ":\\s+(-?\\d+)");
        return std::regex_search(out, m, re) ? std::stoi(m[1]) : 0;
    };
    WindowInfo w;
    w.viewable = out.find("IsViewable") != std::string::npos;
    w.x = field("Absolute upper-left X");
    w.y = field("Absolute upper-left Y");
    w.width = field("Width");
    w.height = field("Height");
    return w;
}

// Where a button sits in the first-run window, measured on an identical window
// built here on the offscreen platform. The part below the install step never
// changes, so a button's distance from the bottom holds whatever text is above.
struct Replica {
    int height = 0;
    QPoint button;  // centre of the button asked for, in window coordinates
};

Replica replica(InstallPhase::Value phase, bool mic, bool ax, const QString& buttonTitle) {
    fakes::FakeDispatcher dispatcher;
    fakes::FakeMicrophone microphone;
    microphone.granted = mic;
    fakes::FakeTrust trust;
    trust.trusted = ax;
    fakes::FakeDesktop desktop;
    fakes::FakeInstaller installer;
    installer.setPhase(std::move(phase));
    auto controller = OnboardingController::create(
        installer, OnboardingPorts{dispatcher, microphone, trust, desktop});
    qt::OnboardingWindow window(controller);
    window.show();
    QApplication::processEvents();
    Replica r;
    r.height = window.height();
    for (QPushButton* b : window.findChildren<QPushButton*>()) {
        if (b->isVisibleTo(&window) && b->text() == buttonTitle)
            r.button = b->mapTo(&window, b->rect().center());
    }
    window.hide();
    return r;
}

class FirstRunTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        // The replicas are drawn off screen; the program under test gets xcb.
        static int argc = 1;
        static char name[] = "stest_windows";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen");
        if (!QApplication::instance()) new QApplication(argc, argv);
    }

    void SetUp() override {
        ASSERT_TRUE(desktop::available()) << "needs the test desktop (run through ctest)";
        // Another program's engine may still be going away.
        ASSERT_TRUE(waitFor([] { return !systest::httpOk(ENGINE_PORT, "/health"); }, 60s))
            << "something else answers on the engine port";
        char tmpl[] = "/tmp/zavren-first-run-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        makeEngineFolder();
    }

    void TearDown() override {
        if (app.running()) {
            EXPECT_TRUE(app.stop(10s)) << "the program did not end on SIGTERM";
            // The program stops its engine as it ends (SIGKILL after a grace period).
            EXPECT_TRUE(waitFor([] { return !systest::httpOk(ENGINE_PORT, "/health"); }, 5s))
                << "the engine outlived the program";
        }
        server.stop();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    void makeEngineFolder() {
        fs::path engine = dir / "engine-1.0.0";
        fs::create_directories(engine / "bin");
        fs::create_directories(engine / "models");
        fs::copy_file(ZAVREN_FAKE_ENGINE, engine / "bin" / "llama-server");
        std::ofstream(engine / "models" / "qwen3-asr.gguf") << "{}";
        std::ofstream(engine / "models" / "mmproj.gguf") << "x";
        fs::create_directories(dir / "downloads");
    }

    // Serves the downloads folder and packs the engine into it.
    void serve(std::vector<std::string> misbehaviour) {
        std::vector<std::string> argv = {ZAVREN_SERVE_DOWNLOADS, "--verbose"};
        argv.insert(argv.end(), misbehaviour.begin(), misbehaviour.end());
        argv.push_back((dir / "downloads").string());
        server = Child(argv, systest::environmentWith({}), (dir / "serve.out").string(),
                       (dir / "serve.err").string());
        ASSERT_TRUE(waitFor(
            [&] { return readFile(dir / "serve.out").find('\n') != std::string::npos; }, 10s));
        std::string out = readFile(dir / "serve.out");
        base = out.substr(0, out.find('\n'));
        int rc = -1;
        capture({ZAVREN_PACK_ENGINE, "--base-url", base, "--platform",
                 "linux-x86_64=" + (dir / "engine-1.0.0").string(), (dir / "engine-1.0.0").string(),
                 (dir / "downloads").string()},
                &rc);
        ASSERT_EQ(rc, 0) << "pack-engine failed";
    }

    fs::path engineRoot() const { return dir / "home" / "data" / "zavren" / "engine"; }

    void launch() {
        fs::create_directories(dir / "home");
        fs::create_directories(dir / "run");
        fs::permissions(dir / "run", fs::perms::owner_all, fs::perm_options::replace);
        const std::string home = (dir / "home").string();
        auto env = systest::environmentWith({{"HOME", home},
                                             {"XDG_DATA_HOME", home + "/data"},
                                             {"XDG_CONFIG_HOME", home + "/config"},
                                             {"XDG_STATE_HOME", home + "/state"},
                                             {"XDG_CACHE_HOME", home + "/cache"},
                                             {"XDG_RUNTIME_DIR", (dir / "run").string()},
                                             {"ZAVREN_UPDATE_BASE", base},
                                             {"QT_QPA_PLATFORM", "xcb"}});
        app = Child({ZAVREN_APP}, env, (dir / "app.out").string(), (dir / "app.err").string());
    }

    // The visible first-run window of the program, by its exact title.
    std::string findOnboarding() {
        std::string found;
        waitFor(
            [&] {
                std::istringstream ids(capture({"xdotool", "search", "--onlyvisible", "--pid",
                                                std::to_string(app.pid()), "--name", "ZAVREN"}));
                std::string id;
                while (ids >> id) {
                    std::string name = capture({"xdotool", "getwindowname", id});
                    if (name == ONBOARDING_TITLE + "\n") {
                        found = id;
                        return true;
                    }
                }
                return false;
            },
            20s);
        return found;
    }

    // Picks the permission state whose idle window has the height seen on screen.
    std::optional<std::pair<bool, bool>> permissionsOnScreen(int height) {
        for (auto [mic, ax] : {std::pair{true, true}, std::pair{false, true},
                               std::pair{true, false}, std::pair{false, false}}) {
            if (replica(InstallPhase::Idle{}, mic, ax, "开始下载").height == height)
                return std::pair{mic, ax};
        }
        return std::nullopt;
    }

    void click(int x, int y) {
        int rc = -1;
        capture(
            {"xdotool", "mousemove", "--sync", std::to_string(x), std::to_string(y), "click", "1"},
            &rc);
        ASSERT_EQ(rc, 0);
    }

    // Whether the window shows orange text (the installer's failure message).
    bool showsOrange(const std::string& id) {
        const std::string shot = (dir / "shot.png").string();
        int rc = -1;
        capture({"import", "-window", id, shot}, &rc);
        QImage image(QString::fromStdString(shot));
        if (rc != 0 || image.isNull()) return false;
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                QColor c = image.pixelColor(x, y);
                if (c.red() > 200 && c.green() > 110 && c.green() < 190 && c.blue() < 90) ++count;
            }
        }
        return count > 30;
    }

    void expectEngineReady() {
        EXPECT_TRUE(fs::is_directory(engineRoot() / "engine-1.0.0"));
        EXPECT_TRUE(waitFor([] { return systest::httpOk(ENGINE_PORT, "/health"); }, 30s))
            << "the engine did not start after the installation";
    }

    fs::path dir;
    std::string base;
    Child server;
    Child app;
};

TEST_F(FirstRunTest, DownloadClickedInTheWindowInstallsAndStartsTheEngine) {
    // Slow enough that the download phase is on screen for a few seconds.
    serve({"--throttle", "400K"});
    launch();
    std::string id = findOnboarding();
    ASSERT_FALSE(id.empty()) << "no first-run window\n" << readFile(dir / "app.err");
    auto shown = windowInfo(id);
    ASSERT_TRUE(shown && shown->viewable);
    EXPECT_EQ(shown->width, 440);
    auto perms = permissionsOnScreen(shown->height);
    ASSERT_TRUE(perms) << "the window on screen is laid out unlike its replica (height "
                       << shown->height << ")";

    Replica idle = replica(InstallPhase::Idle{}, perms->first, perms->second, "开始下载");
    click(shown->x + idle.button.x(), shown->y + idle.button.y());

    const int downloading =
        replica(InstallPhase::Downloading{1, 2}, perms->first, perms->second, {}).height;
    EXPECT_TRUE(waitFor(
        [&] {
            auto w = windowInfo(id);
            return w && w->height == downloading;
        },
        20s))
        << "the download phase never showed";
    EXPECT_TRUE(waitFor(
        [&] {
            auto w = windowInfo(id);
            return !w || !w->viewable;
        },
        60s))
        << "the window did not close after the installation";
    expectEngineReady();
}

TEST_F(FirstRunTest, RetryAfterADroppedConnectionResumesTheDownload) {
    serve({"--throttle", "400K", "--drop-after", "300000", "--drop-once", "--only",
           "engine-1.0.0-linux-x86_64.tar.gz"});
    launch();
    std::string id = findOnboarding();
    ASSERT_FALSE(id.empty()) << "no first-run window\n" << readFile(dir / "app.err");
    auto shown = windowInfo(id);
    ASSERT_TRUE(shown);
    auto perms = permissionsOnScreen(shown->height);
    ASSERT_TRUE(perms) << "the window on screen is laid out unlike its replica";

    Replica idle = replica(InstallPhase::Idle{}, perms->first, perms->second, "开始下载");
    click(shown->x + idle.button.x(), shown->y + idle.button.y());

    ASSERT_TRUE(waitFor([&] { return showsOrange(id); }, 30s)) << "no failure shown";
    EXPECT_GT(fs::file_size(engineRoot() / "download.partial"), 0u);

    auto failed = windowInfo(id);
    ASSERT_TRUE(failed);
    Replica retry = replica(InstallPhase::Failed{"x"}, perms->first, perms->second, "重试");
    const int fromBottom = retry.height - retry.button.y();
    click(failed->x + retry.button.x(), failed->y + failed->height - fromBottom);

    EXPECT_TRUE(waitFor(
        [&] {
            auto w = windowInfo(id);
            return !w || !w->viewable;
        },
        60s))
        << "the window did not close after the retried installation";
    expectEngineReady();
    std::string log = readFile(dir / "serve.err");
    EXPECT_NE(log.find("Range: bytes="), std::string::npos) << log;
    EXPECT_NE(log.find("-> 206"), std::string::npos) << log;
}

}  // namespace
}  // namespace zavren
