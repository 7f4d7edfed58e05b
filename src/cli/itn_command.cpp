#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "cli/cli.h"
#include "text/itn.h"

namespace zavren::cli {

namespace {

const char* HELP =
    "用法: zavren itn [文本…]\n"
    "      zavren itn < 文件\n"
    "\n"
    "把转写文本中口语的中文数字改成书面形式:数字串(电话、年份、编号)、\n"
    "字母后的数字、小数、百分数与千分数、金额、日期、时钟时间,以及编号之间的“杠”。\n"
    "例如 “下午三点十五分” → “下午3点15分”,“百分之五十” → “50%”,\n"
    "“电话幺三八零零一三八零零零” → “电话13800138000”。\n"
    "\n"
    "给出文本参数时,每个参数单独处理,各输出一行。\n"
    "不给参数时逐行读取标准输入,每个输入行输出一行。\n"
    "除被改写的数字外,输出与输入逐字节相同:不增删空格;行尾的 \\r(Windows 换行)\n"
    "原样保留;最后一行没有换行符时,输出也没有;不是有效 UTF-8 的行原样输出。\n"
    "此命令不看菜单里的开关,总是改写。\n"
    "\n"
    "选项(只认第一个参数):\n"
    "  -h, --help   显示本帮助\n"
    "  --           其后的参数都当作文本(例如以 - 开头的文本)\n";

bool writeAll(std::string_view bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
}

int failed(const char* what) {
    std::fprintf(stderr, "zavren itn: %s: %s\n", what, std::strerror(errno));
    return 1;
}

int normaliseStdin() {
    std::string pending;
    std::size_t scanned = 0;  // bytes of `pending` known to hold no line feed
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failed("读取标准输入失败");
        if (n == 0) break;
        pending.append(buf, static_cast<std::size_t>(n));

        std::size_t start = 0;
        for (std::size_t nl; (nl = pending.find('\n', scanned)) != std::string::npos;) {
            std::string line = ITN::apply(std::string_view(pending).substr(start, nl - start));
            line += '\n';
            if (!writeAll(line)) return failed("写入标准输出失败");
            start = scanned = nl + 1;
        }
        pending.erase(0, start);
        scanned = pending.size();
        // Interactive use and pipelines see each line as soon as it is complete.
        if (std::fflush(stdout) != 0) return failed("写入标准输出失败");
    }
    if (!pending.empty() && !writeAll(ITN::apply(pending))) return failed("写入标准输出失败");
    if (std::fflush(stdout) != 0) return failed("写入标准输出失败");
    return 0;
}

}  // namespace

int itnCommand(const Args& args) {
    std::size_t first = 0;
    if (!args.empty()) {
        if (args[0] == "-h" || args[0] == "--help") {
            std::fputs(HELP, stdout);
            return 0;
        }
        if (args[0] == "--") first = 1;
    }
    if (first >= args.size()) return normaliseStdin();

    for (std::size_t k = first; k < args.size(); ++k) {
        std::string line = ITN::apply(args[k]);
        line += '\n';
        if (!writeAll(line)) return failed("写入标准输出失败");
    }
    if (std::fflush(stdout) != 0) return failed("写入标准输出失败");
    return 0;
}

}  // namespace zavren::cli
