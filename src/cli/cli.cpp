#include "cli/cli.h"

#include <cstdio>

namespace zavren::cli {

namespace {

const char* USAGE =
    "用法: zavren [命令]\n"
    "\n"
    "不带命令时启动桌面程序(托盘图标,按住右 Alt 说话)。\n"
    "\n"
    "命令:\n"
    "  itn [文本…]              把口语数字、金额、日期、时间改成书面形式(无参数时逐行读标准输入)\n"
    "  engine status            显示已安装的语音引擎、启动命令与是否在 127.0.0.1:8765 应答\n"
    "  engine install           下载并安装语音引擎(可断点续传)\n"
    "  engine add|list|remove   登记你已有的引擎、列出或删除引擎(engine add --help)\n"
    "  ptt press|release|toggle|cancel  Wayland 下由合成器快捷键调用:按下、松开、切换或取消听写\n"
    "  transcribe FILE.wav [--no-itn]  用本机引擎转写一个 WAV 文件\n"
    "  --help                   显示本帮助\n";

}  // namespace

std::optional<int> run(int argc, char** argv) {
    Args all(argv + 1, argv + argc);
    if (all.empty()) return std::nullopt;
    const std::string& cmd = all[0];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (cmd == "itn") return itnCommand(Args(all.begin() + 1, all.end()));
    if (cmd == "transcribe") return transcribeCommand(Args(all.begin() + 1, all.end()));
    if (cmd == "engine" && all.size() >= 2 && all[1] == "status")
        return engineStatusCommand(Args(all.begin() + 2, all.end()));
    if (cmd == "engine" && all.size() >= 2 && all[1] == "install")
        return engineInstallCommand(Args(all.begin() + 2, all.end()));
    if (cmd == "engine" && all.size() >= 2 &&
        (all[1] == "add" || all[1] == "list" || all[1] == "remove"))
        return engineRegistryCommand(all[1], Args(all.begin() + 2, all.end()));
    if (cmd.rfind("-", 0) == 0 || cmd == "engine") {
        std::fprintf(stderr, "zavren: 未知命令或参数: %s\n\n%s", cmd.c_str(), USAGE);
        return 2;
    }
    // Anything else (for example Qt's own -platform arguments) belongs to the desktop program.
    return std::nullopt;
}

}  // namespace zavren::cli
