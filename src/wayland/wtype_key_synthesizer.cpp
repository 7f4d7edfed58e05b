#include "wayland/wtype_key_synthesizer.h"

#include <chrono>
#include <vector>

#include "shared/trace.h"
#include "wayland/child_command.h"
#include "wayland/focused_app.h"
#include "x11/paste_chord.h"

namespace zavren {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds TYPE_TIMEOUT{2000};
constexpr milliseconds IPC_TIMEOUT{500};
constexpr std::size_t IPC_MAX_OUTPUT = 16u << 20;
constexpr const char* KEYMAP_SETTLE_MS = "20";

}  // namespace

WtypeKeySynthesizer::WtypeKeySynthesizer(SystemLog& log, std::map<std::string, std::string> env)
    : log_(log), env_(std::move(env)) {}

std::string WtypeKeySynthesizer::focusedApp() {
    if (env_.count("SWAYSOCK")) {
        auto r = runCommand({"swaymsg", "-t", "get_tree", "-r"}, "", IPC_MAX_OUTPUT, IPC_TIMEOUT);
        if (r.status == 0) return swayFocusedApp(r.output);
    }
    if (env_.count("HYPRLAND_INSTANCE_SIGNATURE")) {
        auto r = runCommand({"hyprctl", "activewindow", "-j"}, "", IPC_MAX_OUTPUT, IPC_TIMEOUT);
        if (r.status == 0) return hyprlandActiveApp(r.output);
    }
    return {};
}

void WtypeKeySynthesizer::postPaste() {
    trace::mark("paste-begin");
    const bool terminal = pasteChordFor(WmClass{focusedApp(), ""}) == PasteChord::CtrlShiftV;
    // A virtual keyboard's first keys can arrive before its keymap has taken
    // effect in the client and be lost (seen with foot on sway): wait a little.
    std::vector<std::string> argv{"wtype", "-s", KEYMAP_SETTLE_MS, "-M", "ctrl"};
    if (terminal) argv.insert(argv.end(), {"-M", "shift"});
    argv.insert(argv.end(), {"-k", "v"});
    if (terminal) argv.insert(argv.end(), {"-m", "shift"});
    argv.insert(argv.end(), {"-m", "ctrl"});
    auto r = runCommand(argv, "", 0, TYPE_TIMEOUT, false);
    if (r.status != 0) markUnavailable("wtype 无法输入粘贴快捷键");
    trace::mark("paste-sent");
}

bool WtypeKeySynthesizer::isTrusted(bool prompt) {
    (void)prompt;  // there is no permission to ask for: the compositor decides
    if (!available_) {
        // A sleep of 1 ms types nothing, but wtype still asks for a virtual keyboard.
        auto r = runCommand({"wtype", "-s", "1"}, "", 0, TYPE_TIMEOUT, false);
        if (!r.launched)
            markUnavailable("未找到 wtype,无法自动粘贴");
        else if (r.status != 0)
            markUnavailable("此桌面不提供虚拟键盘,转写结果留在剪贴板上,请手动粘贴");
        else
            available_ = true;
    }
    return *available_;
}

void WtypeKeySynthesizer::markUnavailable(const std::string& why) {
    if (available_ != false) log_.line("ZAVREN: " + why);
    available_ = false;
}

}  // namespace zavren
