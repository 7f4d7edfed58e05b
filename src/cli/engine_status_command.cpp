#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "engine/locator.h"
#include "engine/resolve.h"
#include "posix/curl_http_client.h"
#include "posix/proc_net_port_owners.h"
#include "posix/run_loop.h"
#include "shared/constants.h"
#include "shared/paths.h"

namespace zavren::cli {

namespace {

const char* STATUS_HELP =
    "用法: zavren engine status\n"
    "\n"
    "显示已安装的语音引擎(目录、版本、类型)、将使用的启动命令与附加环境变量,\n"
    "以及 127.0.0.1:8765 上是否有引擎应答 GET /health。\n"
    "\n"
    "退出码: 0 引擎正在应答; 2 用法错误; 3 没有可用引擎; 4 引擎没有应答。\n";

constexpr int NOT_ANSWERING = 4;

struct Health {
    std::string text;
    bool ready = false;
};

// One GET /health; a description of the answer for people.
Health probeHealth() {
    if (ProcNetPortOwners().owner(PORT) == ListenerOwner::stranger)
        return {"端口 " + std::to_string(PORT) + " 被其他用户的程序占用"};
    RunLoopDispatcher loop(1);
    CurlHttpClient http;
    HttpRequest request;
    request.url = HEALTH;
    request.timeout = seconds(2);
    std::optional<HttpResponse> answer;
    http.send(request, [&loop, &answer](HttpResponse r) {
        loop.post([&answer, r = std::move(r)] { answer = r; });
    });
    loop.runUntil([&] { return answer.has_value(); }, seconds(5));
    if (!answer) return {"无应答"};
    if (answer->error) return {"无应答 (" + answer->error->description + ")"};
    if (answer->status == 200) return {"正在应答 (200)", true};
    return {"有应答但未就绪 (状态 " + std::to_string(answer->status) + ")"};
}

}  // namespace

int engineStatusCommand(const Args& args) {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(STATUS_HELP, stdout);
        return 0;
    }
    if (!args.empty()) {
        std::fprintf(stderr, "zavren: 多余的参数: %s\n\n%s", args[0].c_str(), STATUS_HELP);
        return 2;
    }
    const Paths paths = Paths::fromEnvironment(currentEnvironment());
    auto installed = EngineLocator::installed(EngineLocator::root(paths));
    auto resolved = resolve(paths);

    std::printf("安装目录: %s\n", paths.engineRoot.c_str());
    if (installed) {
        std::printf("已安装引擎: %s\n版本: %s\n类型: %s\n", installed->dir.c_str(),
                    installed->version.empty() ? "(无)" : installed->version.c_str(),
                    toString(installed->kind));
    } else if (resolved) {
        std::printf("已安装引擎: 无 (使用开发目录 %s)\n类型: %s\n", DEV_CHECKOUT.c_str(),
                    toString(resolved->kind));
    } else {
        std::printf("已安装引擎: 无\n");
    }
    if (resolved) {
        std::printf("启动命令: %s\n", commandLine(*resolved).c_str());
        std::printf("附加环境:%s\n", resolved->env.empty() ? " (无)" : "");
        for (const auto& [k, v] : resolved->env) std::printf("  %s=%s\n", k.c_str(), v.c_str());
    }
    std::printf("引擎日志: %s\n", paths.engineLog.c_str());
    const Health health = probeHealth();
    std::printf("%s: %s\n", HEALTH.c_str(), health.text.c_str());
    if (!resolved) return 3;
    return health.ready ? 0 : NOT_ANSWERING;
}

}  // namespace zavren::cli
