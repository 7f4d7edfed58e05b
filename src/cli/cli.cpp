#include "cli/cli.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <string_view>

#include "shared/constants.h"

namespace zavren::cli {

namespace {

const char* USAGE =
    "用法: zavren [命令]\n"
    "\n"
    "不带命令时启动桌面程序(托盘图标,按住右 Alt 说话;托盘菜单「按键」可换键)。\n"
    "\n"
    "命令:\n"
    "  itn [文本…]              把口语数字、金额、日期、时间改成书面形式(无参数时逐行读标准输入)\n"
    "  engine status            显示已安装的语音引擎、启动命令与是否在 127.0.0.1:8765 应答\n"
    "  engine install [--force] 下载并安装语音引擎(可断点续传;已安装同版本时不重复下载)\n"
    "  engine install --from PATH  不联网,从别处下载好的 engine.json 与引擎包安装\n"
    "  engine add|list|remove   登记你已有的引擎、列出或删除引擎(engine add --help)\n"
    "  ptt press|release|toggle|cancel  Wayland 下由合成器快捷键调用:按下、松开、切换或取消听写\n"
    "  transcribe FILE.wav [--no-itn]  用本机引擎转写一个 WAV 文件\n"
    "  --version                显示版本\n"
    "  --help                   显示本帮助\n";

using Entry = int (*)(const Args&);

struct Command {
    std::string_view first;
    std::string_view second;  // empty: a one-word command
    Entry run;
};

const std::array COMMANDS{
    Command{"itn", "", itnCommand},
    Command{"transcribe", "", transcribeCommand},
    Command{"engine", "status", engineStatusCommand},
    Command{"engine", "install", engineInstallCommand},
    Command{"engine", "add", engineAddCommand},
    Command{"engine", "list", engineListCommand},
    Command{"engine", "remove", engineRemoveCommand},
};

// The toolkit's own options, which belong to the desktop program: those with a
// value, then the switches. Each is also accepted with two dashes.
constexpr std::string_view TOOLKIT_WITH_VALUE[] = {
    "platform",     "platformpluginpath", "platformtheme", "plugin",          "display",
    "style",        "stylesheet",         "session",       "qwindowgeometry", "qwindowicon",
    "qwindowtitle", "geometry",           "name",          "title",           "qmljsdebugger"};
constexpr std::string_view TOOLKIT_SWITCHES[] = {"reverse", "widgetcount", "nograb", "dograb",
                                                 "sync"};

std::string_view optionName(std::string_view arg) {
    if (arg.starts_with("--")) return arg.substr(2);
    if (arg.starts_with("-")) return arg.substr(1);
    return {};
}

bool among(std::span<const std::string_view> names, std::string_view name) {
    return std::ranges::find(names, name) != names.end();
}

// True when every argument is one of the toolkit's options (with its value).
bool onlyToolkitOptions(const Args& all) {
    for (std::size_t i = 0; i < all.size(); ++i) {
        std::string_view name = optionName(all[i]);
        const auto eq = name.find('=');
        if (eq != std::string_view::npos) name = name.substr(0, eq);
        if (among(TOOLKIT_SWITCHES, name)) continue;
        if (!among(TOOLKIT_WITH_VALUE, name)) return false;
        if (eq == std::string_view::npos && ++i >= all.size()) return false;
    }
    return true;
}

int usageError(const std::string& what) {
    std::fprintf(stderr, "zavren: 未知命令或参数: %s\n\n%s", what.c_str(), USAGE);
    return 2;
}

}  // namespace

std::optional<int> run(int argc, char** argv) {
    Args all(argv + 1, argv + argc);
    if (all.empty()) return std::nullopt;
    const std::string& cmd = all[0];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (cmd == "--version" || cmd == "-V") {
        std::printf("zavren %s\n", APP_VERSION.c_str());
        return 0;
    }
    for (const Command& c : COMMANDS) {
        if (cmd != c.first) continue;
        const bool twoWords = !c.second.empty();
        if (twoWords && (all.size() < 2 || all[1] != c.second)) continue;
        return c.run(Args(all.begin() + (twoWords ? 2 : 1), all.end()));
    }
    if (onlyToolkitOptions(all)) return std::nullopt;
    return usageError(cmd == "engine" && all.size() >= 2 ? cmd + " " + all[1] : cmd);
}

}  // namespace zavren::cli
