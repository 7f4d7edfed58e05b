// The installed program as a user meets it: the real `zavren` with the fake
// engine installed, right Alt held through XTest while the virtual microphone
// plays, and the text pasted into a focused window.
#include <gtest/gtest.h>
// keep
#include <X11/extensions/XTest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "paste_target.h"
#include "shared/files.h"
#include "shared/paths.h"
#include "system/harness/desktop_env.h"
#include "system_util.h"
#include "text/itn.h"
#include "x11/x_display.h"

namespace zavren {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using systest::shOut;
using systest::waitFor;

constexpr int RIGHT_ALT = 108;
const std::string ANSWER = "我的电话是一三八零零一三八零零零";
const std::string PREVIOUS = "之前剪贴板里的字";

// One run of the program in a home of its own, stopped by pid at the end.
class Program {
  public:
    explicit Program(const fs::path& home) : home_(home) {
        paths_ = Paths::under(home.string());
        fs::create_directories(paths_.runtimeDir);
        fs::permissions(paths_.runtimeDir, fs::perms::owner_all);
    }
    ~Program() { stop(); }

    const Paths& paths() const { return paths_; }
    std::string engineLog() const { return (home_ / "engine-requests.log").string(); }

    // A llama engine: the fake engine under the name the locator looks for.
    void installFakeEngine(const std::string& script) {
        fs::path dir = fs::path(paths_.engineRoot) / "engine-1.0.0";
        fs::create_directories(dir / "bin");
        fs::create_directories(dir / "models");
        fs::copy_file(ZAVREN_FAKE_ENGINE, dir / "bin/llama-server");
        std::ofstream(dir / "models/qwen3-asr.gguf") << script;
        std::ofstream(dir / "models/mmproj.gguf") << "x";
    }
    // Skips the first-launch privacy hint, which would cover the indicator.
    void markPrivacyHintShown() {
        fs::create_directories(paths_.configDir);
        std::ofstream(fs::path(paths_.configDir) / "settings.ini")
            << "[General]\nzavren.privacy.hint.v1=bool:true\n";
    }

    void start() {
        std::map<std::string, std::string> env = currentEnvironment();
        const std::string h = home_.string();
        env["HOME"] = h;
        env["XDG_DATA_HOME"] = h + "/data";
        env["XDG_CONFIG_HOME"] = h + "/config";
        env["XDG_STATE_HOME"] = h + "/state";
        env["XDG_CACHE_HOME"] = h + "/cache";
        env["XDG_RUNTIME_DIR"] = h + "/run";
        env["FAKE_ENGINE_LOG"] = engineLog();
        // No update check against the network.
        env["ZAVREN_UPDATE_BASE"] = "http://127.0.0.1:9/";
        std::vector<std::string> flat;
        for (const auto& [k, v] : env) flat.push_back(k + "=" + v);
        std::vector<char*> envp;
        for (auto& s : flat) envp.push_back(s.data());
        envp.push_back(nullptr);
        const std::string out = h + "/program.log";
        pid_ = ::fork();
        if (pid_ == 0) {
            FILE* f = std::fopen(out.c_str(), "w");
            if (f) {
                ::dup2(fileno(f), 1);
                ::dup2(fileno(f), 2);
            }
            char* argv[] = {const_cast<char*>(ZAVREN_PROGRAM), nullptr};
            ::execve(ZAVREN_PROGRAM, argv, envp.data());
            ::_exit(127);
        }
    }

    // The exit status once it has ended by itself, nullopt while it still runs.
    std::optional<int> waitExit(std::chrono::milliseconds timeout) {
        int status = 0;
        if (pid_ <= 0) return status_;
        if (!waitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout))
            return std::nullopt;
        pid_ = -1;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
    }

    // SIGTERM, then the exit status (-1 when it had to be killed).
    int stop() {
        if (pid_ <= 0) return status_;
        ::kill(pid_, SIGTERM);
        int status = 0;
        bool exited = waitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 10s);
        if (!exited) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            status_ = -1;
        } else {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        pid_ = -1;
        return status_;
    }

    std::string requests() const { return files::read(engineLog()).value_or(""); }
    int count(const std::string& needle) const {
        std::istringstream in(requests());
        int n = 0;
        for (std::string line; std::getline(in, line);)
            n += line.find(needle) != std::string::npos ? 1 : 0;
        return n;
    }
    std::string output() const {
        return files::read((home_ / "program.log").string()).value_or("");
    }

  private:
    fs::path home_;
    Paths paths_;
    pid_t pid_ = -1;
    int status_ = 0;
};

class DictationSystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(desktop::available()) << "needs the test desktop (run through ctest)";
        home_ = fs::temp_directory_path() / ("zavren-e2e-" + std::to_string(::getpid()));
        fs::remove_all(home_);
        fs::create_directories(home_);
        keys_ = openDisplay();
        ASSERT_TRUE(keys_);
    }
    void TearDown() override {
        if (keys_) key(RIGHT_ALT, false);
        desktop::micSilence();
        fs::remove_all(home_);
    }
    void key(int code, bool down) {
        XTestFakeKeyEvent(keys_.get(), static_cast<unsigned>(code), down, CurrentTime);
        XSync(keys_.get(), False);
    }
    static bool indicatorVisible() {
        return !shOut("xdotool search --onlyvisible --name 'ZAVREN indicator' 2>/dev/null").empty();
    }

    fs::path home_;
    DisplayPtr keys_;
};

TEST_F(DictationSystemTest, HoldSpeakReleaseAndTheTextLandsInTheFocusedWindow) {
    Program program(home_);
    program.installFakeEngine("{\"answer\": \"" + ANSWER + "\"}");
    program.markPrivacyHintShown();
    program.start();
    ASSERT_TRUE(waitFor([&] { return program.count("\"status\":200") > 0; }, 30s))
        << "the engine never became healthy\n"
        << program.output();

    PasteTarget target("zavren-e2e", "ZavrenE2E", false);
    ASSERT_TRUE(target.show(5000ms));
    ASSERT_TRUE(target.ownClipboard(PREVIOUS));
    ASSERT_FALSE(indicatorVisible());

    // Speech, a pause long enough to cut a piece for the live preview, more speech.
    ASSERT_TRUE(desktop::micTone(440, -12));
    key(RIGHT_ALT, true);
    EXPECT_TRUE(waitFor(indicatorVisible, 5s)) << "the indicator did not appear";
    systest::letAudioPlay(1200ms);
    ASSERT_TRUE(desktop::micSilence());
    EXPECT_TRUE(waitFor([&] { return program.count("/v1/chat/completions") >= 1; }, 5s))
        << "no preview request reached the engine while the key was held\n"
        << program.requests() << program.output();
    ASSERT_TRUE(desktop::micTone(440, -12));
    systest::letAudioPlay(500ms);
    const int whileHeld = program.count("/v1/chat/completions");
    key(RIGHT_ALT, false);

    auto paste = target.waitForPaste(15000ms);
    ASSERT_TRUE(paste) << "nothing was pasted\n" << program.output();
    const std::string expected = ITN::apply(ANSWER);
    ASSERT_NE(expected, ANSWER);
    EXPECT_EQ(paste->text, expected);
    EXPECT_GT(program.count("/v1/chat/completions"), whileHeld) << "no final request";

    // The user's clipboard comes back shortly after the paste.
    EXPECT_TRUE(
        waitFor([] { return shOut("xclip -o -selection clipboard 2>/dev/null") == PREVIOUS; }, 3s));
    EXPECT_FALSE(files::exists(program.paths().wav));
    EXPECT_TRUE(waitFor([] { return !indicatorVisible(); }, 5s));

    // SIGTERM: the program stops its engine and exits with status 0.
    EXPECT_EQ(program.stop(), 0);
    EXPECT_TRUE(waitFor([&] { return program.count("\"event\":\"signal\"") >= 1; }, 5s));
}

TEST_F(DictationSystemTest, SecondInstanceIsRefusedAndLeavesTheFirstOneRunning) {
    Program first(home_);
    first.installFakeEngine("{\"answer\": \"一\"}");
    first.markPrivacyHintShown();
    first.start();
    ASSERT_TRUE(waitFor([&] { return first.count("\"status\":200") > 0; }, 30s));
    std::ofstream(first.paths().wav) << "RIFF";

    Program second(home_);
    second.start();
    EXPECT_EQ(second.waitExit(10s), 0);
    EXPECT_NE(second.output().find("ZAVREN: 已有实例运行(pid ["), std::string::npos)
        << second.output();
    EXPECT_TRUE(files::exists(first.paths().wav)) << "the refused instance removed the recording";
    EXPECT_EQ(first.count("\"event\":\"signal\""), 0) << "the refused instance stopped the engine";
    EXPECT_EQ(first.stop(), 0);
}

}  // namespace
}  // namespace zavren
