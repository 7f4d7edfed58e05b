#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "engine/installer/engine_registry.h"
#include "engine/locator.h"
#include "shared/paths.h"

namespace zavren::cli {

namespace {

namespace reg = EngineRegistry;

const char* REGISTRY_HELP =
    "用法:\n"
    "  zavren engine add --llama-server PATH --model FILE --mmproj FILE [--name NAME]\n"
    "  zavren engine add --python PATH --script FILE [--models DIR] [--name NAME]\n"
    "  zavren engine list\n"
    "  zavren engine remove NAME\n"
    "\n"
    "add 把你已有的语音引擎登记到引擎目录:新建 engine-NAME,里面只有指向你的文件的\n"
    "符号链接。NAME 默认为 local- 加当前时间(UTC),比下载的引擎新,因此会被选用;\n"
    "llama 类型的引擎总是优先于 python 类型。--models 是 python 引擎的模型目录(HF_HOME)。\n"
    "list 列出所有已安装的引擎,* 标出正在使用的那个。\n"
    "remove 删除一个引擎目录;链接所指的文件不会被删除。\n"
    "\n"
    "退出码: 0 成功; 1 无法写入引擎目录; 2 用法错误、文件不可用或名称无效。\n";

// Paths come from the user and the disk: keep control characters off the terminal.
std::string printable(const std::string& s) {
    std::string out;
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out;
}

int usage(const std::string& why) {
    std::fprintf(stderr, "zavren: %s\n\n%s", printable(why).c_str(), REGISTRY_HELP);
    return 2;
}

int report(const reg::Result& r) {
    if (r.status == reg::Result::Status::done) return 0;
    std::fprintf(stderr, "zavren: %s\n", printable(r.text).c_str());
    return r.status == reg::Result::Status::refused ? 2 : 1;
}

std::string root() {
    return EngineLocator::root(Paths::fromEnvironment(currentEnvironment()));
}

int add(const Args& args) {
    std::map<std::string, std::string> opt;
    for (std::size_t i = 0; i < args.size(); i += 2) {
        static const char* KNOWN[] = {"--llama-server", "--model",  "--mmproj", "--python",
                                      "--script",       "--models", "--name"};
        if (std::find(std::begin(KNOWN), std::end(KNOWN), args[i]) == std::end(KNOWN))
            return usage("未知参数: " + args[i]);
        if (i + 1 >= args.size()) return usage(args[i] + " 缺少值");
        if (!opt.emplace(args[i], args[i + 1]).second) return usage(args[i] + " 重复出现");
    }
    auto take = [&opt](const char* key) {
        auto it = opt.find(key);
        std::string v = it == opt.end() ? "" : it->second;
        if (it != opt.end()) opt.erase(it);
        return v;
    };
    std::optional<std::string> name;
    if (opt.count("--name")) name = take("--name");
    std::vector<reg::Link> links;
    if (opt.count("--llama-server")) {
        const std::string server = take("--llama-server"), model = take("--model"),
                          mmproj = take("--mmproj");
        if (model.empty() || mmproj.empty()) return usage("llama 引擎需要 --model 和 --mmproj");
        links = reg::llamaLinks(server, model, mmproj);
    } else if (opt.count("--python")) {
        const std::string python = take("--python"), script = take("--script");
        const std::string models = take("--models");
        if (script.empty()) return usage("python 引擎需要 --script");
        links = reg::pythonLinks(python, script, models);
    } else {
        return usage("需要 --llama-server 或 --python");
    }
    if (!opt.empty()) return usage(opt.begin()->first + " 不适用于这种引擎");

    const std::string engines = root();
    const auto r = reg::add(engines, links, name, std::chrono::system_clock::now());
    if (r.status != reg::Result::Status::done) return report(r);
    std::printf("已登记引擎: %s\n", printable(r.text).c_str());
    if (auto note = reg::chosenInstead(engines, r.text))
        std::fprintf(stderr, "注意: %s\n", printable(*note).c_str());
    return 0;
}

int list(const Args& args) {
    if (!args.empty()) return usage("多余的参数: " + args[0]);
    const std::string engines = root();
    const auto entries = reg::list(engines);
    std::printf("引擎目录: %s\n", printable(engines).c_str());
    if (entries.empty()) {
        std::printf("没有已安装的引擎(zavren engine install 下载,或 zavren engine add 登记)\n");
        return 0;
    }
    for (const auto& e : entries) {
        std::printf("%s %s  %s%s\n", e.chosen ? "*" : " ", printable(e.name).c_str(),
                    e.kind ? toString(*e.kind) : "不可用(文件缺失或不可执行)",
                    e.chosen ? "  正在使用" : "");
        for (const auto& [inside, target] : e.files)
            std::printf("    %s%s%s\n", inside.c_str(), target.empty() ? "" : " -> ",
                        printable(target).c_str());
    }
    return 0;
}

int remove(const Args& args) {
    if (args.size() != 1) return usage("remove 需要且只需要一个引擎名称");
    const auto r = reg::remove(root(), args[0]);
    if (r.status != reg::Result::Status::done) return report(r);
    std::printf("已删除引擎: %s\n", printable(r.text).c_str());
    return 0;
}

}  // namespace

namespace {

int withHelp(int (*run)(const Args&), const Args& args) {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(REGISTRY_HELP, stdout);
        return 0;
    }
    return run(args);
}

}  // namespace

int engineAddCommand(const Args& args) {
    return withHelp(add, args);
}
int engineListCommand(const Args& args) {
    return withHelp(list, args);
}
int engineRemoveCommand(const Args& args) {
    return withHelp(remove, args);
}

}  // namespace zavren::cli
