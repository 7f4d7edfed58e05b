#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "cli/wav_check.h"
#include "dictation/wav.h"
#include "dictation/wire.h"
#include "engine/server_manager.h"
#include "posix/curl_http_client.h"
#include "posix/proc_net_port_owners.h"
#include "posix/process_launcher.h"
#include "posix/run_loop.h"
#include "shared/constants.h"
#include "shared/files.h"
#include "shared/paths.h"
#include "text/clean_text.h"
#include "text/itn.h"

namespace zavren::cli {

namespace {

enum Exit { OK = 0, USAGE = 2, NO_ENGINE = 3, START_FAILED = 4, EMPTY = 5, UNREADABLE = 6 };
// Another user holds the engine port: the recording must not go there.
constexpr Exit FOREIGN_LISTENER = START_FAILED;

const char* TRANSCRIBE_HELP =
    "用法: zavren transcribe FILE.wav [--no-itn]\n"
    "\n"
    "用本机语音引擎转写一个 WAV 文件(16 kHz、单声道、16 位),文字输出到标准输出。\n"
    "若 127.0.0.1:8765 已有引擎应答则直接使用,否则启动已安装的引擎,用完后停止它。\n"
    "  --no-itn   不把口语数字改成书面形式\n"
    "\n"
    "退出码: 0 成功; 2 用法错误; 3 没有安装语音引擎; 4 引擎启动失败;\n"
    "        5 转写失败或结果为空; 6 文件无法读取或不是 WAV。\n";

// Longer than the supervisor's own 180 s health deadline, which decides first.
constexpr double READY_WAIT_S = 200;

// The progress line on stderr; log lines that arrive meanwhile start on a fresh line.
struct Progress {
    bool open = false;
    void breakLine() {
        if (open) std::fputc('\n', stderr);
        open = false;
    }
};

class StderrLog : public SystemLog {
  public:
    explicit StderrLog(Progress& p) : progress_(p) {}
    void line(const std::string& text) override {
        progress_.breakLine();
        std::fprintf(stderr, "%s\n", text.c_str());
    }

  private:
    Progress& progress_;
};

bool answersHealth(RunLoopDispatcher& loop, HttpClient& http) {
    HttpRequest request;
    request.url = HEALTH;
    request.timeout = seconds(2);
    std::optional<bool> ok;
    http.send(request, [&loop, &ok](HttpResponse r) {
        bool healthy = !r.error && r.status == 200;
        loop.post([&ok, healthy] { ok = healthy; });
    });
    loop.runUntil([&] { return ok.has_value(); }, seconds(5));
    return ok.value_or(false);
}

// An engine of ours already on the port (the tray's, still loading) is waited
// for: starting another would only fight it for the port.
bool ourEngineBecomesReady(RunLoopDispatcher& loop, HttpClient& http, PortOwners& ports,
                           const Paths& paths) {
    auto ours = [&] {
        for (const auto& l : ports.listeners(PORT)) {
            if (isOurStaleEngine(l, ::geteuid(), {paths.engineRoot, DEV_CHECKOUT})) return true;
        }
        return false;
    };
    if (!ours()) return false;
    std::fputs("zavren: 等待正在加载的语音引擎…\n", stderr);
    const auto end = loop.now() + seconds(READY_WAIT_S);
    while (loop.now() < end && ours()) {
        if (answersHealth(loop, http)) return true;
        loop.runUntil([] { return false; }, seconds(0.5));
    }
    return false;
}

// Starts the engine and waits until it is ready; false when it failed.
bool startEngine(RunLoopDispatcher& loop, const std::shared_ptr<ServerManager>& server,
                 Progress& progress) {
    std::optional<EngineState> last;
    server->onState = [&last](EngineState s) { last = s; };
    const bool tty = ::isatty(STDERR_FILENO) != 0;
    std::fputs("zavren: 正在启动语音引擎…", stderr);
    progress.open = true;
    const auto begin = loop.now();
    auto timer = loop.repeating(seconds(1), [&] {
        if (!tty || !progress.open) return;
        auto s = std::chrono::duration_cast<std::chrono::seconds>(loop.now() - begin).count();
        std::fprintf(stderr, "\rzavren: 正在启动语音引擎… %lld 秒", static_cast<long long>(s));
    });
    server->start();
    loop.runUntil([&] { return last && *last != EngineState::starting; }, seconds(READY_WAIT_S));
    timer->cancel();
    const bool ready = last == EngineState::ready;
    if (progress.open)
        std::fputs(ready ? " 就绪\n" : " 失败\n", stderr);
    else
        std::fputs(ready ? "zavren: 语音引擎就绪\n" : "", stderr);
    progress.open = false;
    server->onState = nullptr;
    return ready;
}

void stopEngine(const std::shared_ptr<ServerManager>& server) {
    server->stopAndWait();
}

}  // namespace

int transcribeCommand(const Args& args) {
    std::optional<std::string> file;
    bool itn = true;
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") {
            std::fputs(TRANSCRIBE_HELP, stdout);
            return OK;
        }
        if (a == "--no-itn") {
            itn = false;
        } else if (!file && !a.empty() && a[0] != '-') {
            file = a;
        } else {
            std::fprintf(stderr, "zavren: 无法识别的参数: %s\n\n%s", a.c_str(), TRANSCRIBE_HELP);
            return USAGE;
        }
    }
    if (!file) {
        std::fputs(TRANSCRIBE_HELP, stderr);
        return USAGE;
    }
    auto wav = files::read(*file);
    if (!wav) {
        std::fprintf(stderr, "zavren: 无法读取文件: %s\n", file->c_str());
        return UNREADABLE;
    }
    if (auto problem = wavProblem(*wav)) {
        std::fprintf(stderr, "zavren: 无法转写 %s: %s\n", file->c_str(), problem->c_str());
        return UNREADABLE;
    }

    const Paths paths = Paths::fromEnvironment(currentEnvironment());
    RunLoopDispatcher loop(2);
    CurlHttpClient http;
    PosixProcessLauncher processes;
    Progress progress;
    StderrLog log(progress);
    ProcNetPortOwners portOwners;
    auto server = ServerManager::create({loop, http, processes, log, portOwners, paths});
    auto resolved = server->resolve();
    if (!resolved) {
        std::fputs("zavren: 没有安装语音引擎 (可运行 zavren engine install)\n", stderr);
        return NO_ENGINE;
    }

    bool started = false;
    if (!server->confirmOwnListener()) return FOREIGN_LISTENER;
    if (!answersHealth(loop, http) && !ourEngineBecomesReady(loop, http, portOwners, paths)) {
        started = true;
        if (!startEngine(loop, server, progress)) {
            stopEngine(server);
            std::fprintf(stderr, "zavren: 语音引擎启动失败,详见 %s\n", paths.engineLog.c_str());
            return START_FAILED;
        }
        // The port may have changed hands while the engine started.
        if (!server->confirmOwnListener()) {
            stopEngine(server);
            return FOREIGN_LISTENER;
        }
    }

    const EngineKind kind = resolved->kind;
    HttpRequest request = transcriptionRequest(kind, *wav, FINAL_TIMEOUT, paths.termsFile);
    std::optional<Transcript> answer;
    std::string error;
    http.send(std::move(request), [&loop, &answer, &error, kind](HttpResponse r) {
        std::string e = r.error               ? r.error->description
                        : r.status / 100 != 2 ? "状态 " + std::to_string(r.status)
                                              : std::string();
        loop.post([&answer, &error, t = parseTranscript(kind, r), e = std::move(e)] {
            error = e;
            answer = t;
        });
    });
    loop.runUntil([&] { return answer.has_value(); }, FINAL_TIMEOUT + seconds(10));
    if (started) stopEngine(server);

    // What a terminal would take as escape codes never reaches it.
    const std::string out =
        answer ? cleanText(itn ? ITN::apply(answer->text) : answer->text, false) : "";
    if (out.empty()) {
        std::fprintf(stderr, "zavren: 转写失败或结果为空%s\n",
                     error.empty() ? "" : (" (" + error + ")").c_str());
        return EMPTY;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fputc('\n', stdout);
    return OK;
}

}  // namespace zavren::cli
