// The installed program as a user meets it: the real `zavren` with the fake
// engine installed, the key held through XTest while the virtual microphone
// plays, and the text pasted into a focused window that reads the clipboard late.
#include <gtest/gtest.h>
// keep
#include <X11/extensions/XTest.h>
#include <filesystem>
#include <optional>
#include <thread>

#include "app/menu_model.h"
#include "desktop/desktop_env.h"
#include "paste_target.h"
#include "shared/files.h"
#include "shared/paths.h"
#include "support/fake_engine.h"
#include "support/run_program.h"
#include "support/temp_dir.h"
#include "system_util.h"

namespace zavren {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using systest::shOut;
using systest::waitFor;

constexpr int RIGHT_ALT = 108;
constexpr int RIGHT_CTRL = 105;
const std::string ANSWER = "我的电话是一三八零零一三八零零零";
const std::string PREVIOUS = "hunter2-my-password";
// A PNG signature and bytes no text conversion would keep: NUL, CR LF, high bytes.
const std::string PNG = std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + std::string(600, '\xfe');

// The program in a home of its own, stopped by pid at the end; right Alt through XTest.
class Dictation : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(desktop::available()) << "needs the test desktop (run through ctest)";
        ASSERT_TRUE(keys_);
    }
    void TearDown() override {
        key(false);
        key(false, RIGHT_CTRL);
        desktop::micSilence();
        stop();
    }
    void key(bool down, int keycode = RIGHT_ALT) {
        XTestFakeKeyEvent(keys_.get(), keycode, down, CurrentTime);
        XSync(keys_.get(), False);
    }

    // The fake engine under the names the locator looks for, first run done, and
    // the program started until its engine answers.
    void ready(bool llama, const std::string& script) {
        test::installFakeEngine(paths.engineRoot + "/engine-1.0.0", llama, script);
        // Skips the first-launch privacy hint, which would cover the indicator.
        test::writeFile(paths.configDir + "/settings.ini",
                        "[General]\nzavren.privacy.hint.v1=bool:true\n");
        fs::create_directories(home / "run");
        fs::permissions(home / "run", fs::perms::owner_all);
        auto vars = test::homeVars(home.path);
        vars["ZAVREN_UPDATE_BASE"] = "http://127.0.0.1:9/";
        vars["FAKE_ENGINE_LOG"] = home / "engine-requests.log";
        program_ =
            std::make_unique<test::Background>(std::vector<std::string>{ZAVREN_PROGRAM},
                                               home / "program.log", home / "program.log", vars);
        ASSERT_TRUE(waitFor([&] { return count("\"status\":200") > 0; }, 30s))
            << "the engine never became healthy\n"
            << read("program.log");
    }
    // SIGTERM, then the exit status (-1 when it had to be killed).
    int stop() { return program_ ? program_->stop() : -1; }

    int count(const std::string& needle) const {
        const std::string log = read("engine-requests.log");
        int n = 0;
        for (auto at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1))
            ++n;
        return n;
    }
    std::string read(const std::string& name) const {
        return files::read(home / name).value_or("");
    }

    test::TempDir home;
    Paths paths = Paths::under(home.path);
    DisplayPtr keys_ = openDisplay();
    std::unique_ptr<test::Background> program_;
};

// The centres ("X Y") of the program's windows named after it, one a line: the
// tray icon, and the menu while it is open.
std::string programWindows() {
    return shOut(
        "for w in $(xdotool search --onlyvisible --class zavren); do"
        " [ \"$(xdotool getwindowname $w)\" = zavren ] || continue;"
        " eval $(xdotool getwindowgeometry --shell $w);"
        " [ $WIDTH -gt 1 ] && echo $((X + WIDTH / 2)) $((Y + HEIGHT / 2)); done");
}

// Right Ctrl picked in the tray menu's key submenu with the arrow keys, as a user
// would; they skip the rows that cannot be chosen.
void chooseRightCtrl(bool llama) {
    std::string tray, before;
    ASSERT_TRUE(waitFor(
        [&] { return !(tray = programWindows()).empty() && tray == std::exchange(before, tray); },
        10s));
    bool open = false;
    for (int attempt = 0; attempt < 3 && !open; ++attempt) {
        ASSERT_EQ(systest::sh("xdotool mousemove " + tray + " mousedown 3"), 0);
        open = waitFor([] { return programWindows().find('\n') != std::string::npos; }, 2s);
        ASSERT_EQ(systest::sh("xdotool mouseup 3"), 0);
    }
    ASSERT_TRUE(open) << "the menu did not open";
    std::string walk = "xdotool key Down";
    for (const MenuRow& row : menuModel({true, true, EngineState::ready, true, true, true,
                                         llama ? EngineKind::llama : EngineKind::python})) {
        if (row.kind == MenuItem::Kind::submenu) break;
        if (row.kind == MenuItem::Kind::action && row.enabled) walk += " Down";
    }
    // The submenu opens on right Alt; right Ctrl is the third row.
    ASSERT_EQ(systest::sh(walk + " Right Down Down Return"), 0);
}

bool indicatorVisible() {
    return !shOut("xdotool search --onlyvisible --name 'ZAVREN indicator' 2>/dev/null").empty();
}

// The python run holds right Ctrl, chosen in the menu first: right Alt then does nothing.
TEST_P(Dictation, HoldSpeakReleaseAndTheTextLandsWhileTheClipboardComesBackWhole) {
    const bool llama = GetParam();
    const int hotkey = llama ? RIGHT_ALT : RIGHT_CTRL;
    const std::string finalPath = llama ? "/v1/chat/completions" : "\"path\":\"/\"";
    ASSERT_NO_FATAL_FAILURE(ready(llama, "{\"answer\": \"" + ANSWER + "\"}"));
    if (!llama) chooseRightCtrl(llama);

    // A busy application: it asks for the clipboard 700 ms after the keystroke.
    PasteTarget target("zavren-e2e", "ZavrenE2E", false, 700ms);
    ASSERT_TRUE(target.show(5000ms));
    ASSERT_TRUE(target.ownClipboard(PREVIOUS, PNG));
    ASSERT_FALSE(indicatorVisible());

    // Speech, a pause long enough to cut a piece for the live preview, more speech.
    ASSERT_TRUE(desktop::micTone(440, -12));
    key(true, hotkey);
    EXPECT_TRUE(waitFor(indicatorVisible, 5s)) << "the indicator did not appear";
    std::this_thread::sleep_for(1200ms);  // audio takes real time
    ASSERT_TRUE(desktop::micSilence());
    if (llama) {
        EXPECT_TRUE(waitFor([&] { return count(finalPath) >= 1; }, 5s))
            << "no preview request reached the engine while the key was held\n"
            << read("engine-requests.log") << read("program.log");
    }
    ASSERT_TRUE(desktop::micTone(440, -12));
    std::this_thread::sleep_for(500ms);
    const int whileHeld = count(finalPath);
    key(false, hotkey);

    auto paste = target.waitForPaste(15000ms);
    ASSERT_TRUE(paste) << "nothing was pasted\n" << read("program.log");
    EXPECT_EQ(paste->text, "我的电话是13800138000");
    EXPECT_EQ(count(finalPath), whileHeld + 1);

    // Every format of the user's clipboard comes back, byte for byte.
    EXPECT_TRUE(waitFor([] { return shOut("xclip -o -selection clipboard") == PREVIOUS; }, 3s));
    EXPECT_TRUE(shOut("xclip -o -selection clipboard -t image/png") == PNG) << "no image came back";
    EXPECT_FALSE(files::exists(paths.wav));
    EXPECT_TRUE(waitFor([] { return !indicatorVisible(); }, 5s));
    if (!llama) {
        key(true);
        EXPECT_FALSE(waitFor(indicatorVisible, 1500ms)) << "right Alt still dictates";
        key(false);
    }

    // SIGTERM: the program stops its engine and exits with status 0.
    EXPECT_EQ(stop(), 0);
    EXPECT_TRUE(waitFor([&] { return count("\"event\":\"signal\"") >= 1; }, 5s));
}

// Holds the key with the microphone playing, long enough for a take.
class Dictations : public Dictation {
  protected:
    // Audio takes real time. A target that owns the clipboard answers only while
    // pumped, and the program reads the clipboard while the engine works.
    void take(PasteTarget* pumped = nullptr) {
        ASSERT_TRUE(desktop::micTone(440, -12));
        key(true);
        hold(1200ms, pumped);
        key(false);
    }
    static void hold(std::chrono::milliseconds time, PasteTarget* pumped) {
        if (pumped)
            EXPECT_FALSE(pumped->waitForPaste(time)) << "a paste before any answer";
        else
            std::this_thread::sleep_for(time);
    }
};

// The engine holds the first answer back so both come out together; the target
// reads the clipboard late, so a second paste sent too early would overtake it.
TEST_F(Dictations, TwoAnswersReleasedTogetherLandInOrderIntoASlowTarget) {
    const std::string first = "春眠不觉晓", second = "处处闻啼鸟";
    ASSERT_NO_FATAL_FAILURE(ready(false, "{\"answers\": [{\"answer\": \"" + first +
                                             "\", \"delay_ms\": 2300}, {\"answer\": \"" + second +
                                             "\", \"delay_ms\": 900}]}"));
    PasteTarget target("zavren-order", "ZavrenOrder", false, 400ms);
    ASSERT_TRUE(target.show(5000ms));
    ASSERT_TRUE(target.ownClipboard(PREVIOUS));
    take(&target);
    hold(200ms, &target);
    take(&target);
    for (const std::string& want : {first, second}) {
        auto paste = target.waitForPaste(15000ms);
        ASSERT_TRUE(paste) << "nothing was pasted\n" << read("program.log");
        EXPECT_EQ(paste->text, want);
    }
    EXPECT_FALSE(target.waitForPaste(1500ms)) << "a sentence landed twice";
    EXPECT_TRUE(waitFor([] { return shOut("xclip -o -selection clipboard") == PREVIOUS; }, 3s));
    EXPECT_EQ(count("\"path\":\"/\""), 2);
}

// Stock xterm pastes PRIMARY on Shift+Insert and has no clipboard paste chord.
TEST_F(Dictations, ADictationIntoAStockXtermLands) {
    const std::string want = "床前明月光";
    // A trailing newline must not run it.
    ASSERT_NO_FATAL_FAILURE(ready(false, "{\"answer\": \"" + want + "\\n\"}"));
    const std::string out = home / "typed.txt";
    // Raw input: what the paste types arrives without a newline to end it.
    const std::string shell =
        "stty -icanon -echo; head -c " + std::to_string(want.size()) + " > " + out + "; sleep 30";
    const std::string pid =
        shOut("LC_ALL=C.UTF-8 xterm -u8 -e sh -c '" + shell + "' >/dev/null 2>&1 & echo $!");
    ASSERT_FALSE(pid.empty());
    // Only a mapped window takes the focus, and a loaded machine maps it late.
    const bool focused = waitFor(
        [] {
            return systest::sh(
                       "xdotool search --onlyvisible --class '^XTerm$' windowfocus --sync "
                       ">/dev/null 2>&1") == 0;
        },
        10s);
    if (!focused) systest::sh("kill " + pid);
    ASSERT_TRUE(focused) << "xterm did not get the focus";
    take();
    EXPECT_TRUE(waitFor([&] { return files::read(out).value_or("") == want; }, 15s))
        << "xterm got \"" << files::read(out).value_or("") << "\"\n"
        << read("program.log");
    systest::sh("kill " + pid);
    EXPECT_NE(read("state/zavren/zavren.log").find("听写已粘贴"), std::string::npos)
        << read("state/zavren/zavren.log");
}

INSTANTIATE_TEST_SUITE_P(Engine, Dictation, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "llama" : "python"; });

}  // namespace
}  // namespace zavren
