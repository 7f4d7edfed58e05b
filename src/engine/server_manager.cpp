#include "engine/server_manager.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "shared/constants.h"

namespace zavren {

namespace {

const std::string PKILL = "/usr/bin/pkill";
constexpr double HEALTH_DEADLINE_S = 180;
constexpr double HEALTH_INTERVAL_S = 0.5;
constexpr double HEALTH_TIMEOUT_S = 2;
constexpr double RESTART_DELAY_S = 1.5;
constexpr double KILL_DELAY_S = 1.5;

}  // namespace

std::string literalPattern(const std::string& path) {
    std::string out;
    out.reserve(path.size() * 2);
    for (char c : path) {
        if (std::string_view(".[]{}()*+?^$|\\").find(c) != std::string_view::npos) out += '\\';
        out += c;
    }
    return out;
}

std::shared_ptr<ServerManager> ServerManager::create(Deps deps) {
    return std::shared_ptr<ServerManager>(new ServerManager(std::move(deps)));
}

ServerManager::ServerManager(Deps deps) : deps_(std::move(deps)) {}

ServerManager::~ServerManager() {
    closeLog();
}

std::optional<Resolved> ServerManager::resolve() const {
    return zavren::resolve(deps_.paths, deps_.devCheckout);
}

void ServerManager::restart() {
    restarts_ = 0;
    start();
}

void ServerManager::start() {
    shuttingDown_ = false;
    auto resolved = resolve();
    if (!resolved) {
        deps_.log.line(LOG_PREFIX + "找不到可用引擎");
        report(EngineState::failed);
        return;
    }
    currentKind_ = resolved->kind;

    // From here the previous child is being replaced: its exit is expected.
    ++launch_;
    killStale(resolved->killPath);
    logURL();

    ProcessSpec spec;
    spec.exec = resolved->exec;
    spec.args = resolved->args;
    spec.env = deps_.processes.environment();
    for (const auto& [k, v] : resolved->env) spec.env[k] = v;
    spec.outputFd = logFd_;

    std::weak_ptr<ServerManager> weak = weak_from_this();
    Dispatcher* dispatcher = &deps_.dispatcher;
    const std::uint64_t launch = launch_;
    auto result = deps_.processes.launch(spec, [weak, dispatcher, launch](int status) {
        dispatcher->post([weak, launch, status] {
            if (auto self = weak.lock()) self->onChildExit(status, launch);
        });
    });
    if (!result.child) {
        deps_.log.line(LOG_PREFIX + "启动引擎失败 " + result.error);
        report(EngineState::failed);
        return;
    }
    process_ = result.child;
    report(EngineState::starting);
    pollHealth(deps_.dispatcher.now() + seconds(HEALTH_DEADLINE_S), launch);
}

void ServerManager::stop() {
    shuttingDown_ = true;
    if (process_ && process_->isRunning()) {
        process_->terminate();
        // The handle, not a pid: it never signals a process that has been reaped.
        deps_.dispatcher.backgroundAfter(seconds(KILL_DELAY_S), [child = process_] {
            if (child->isRunning()) child->kill();
        });
    }
    closeLog();
}

void ServerManager::killStale(const std::string& path) {
    ProcessSpec spec;
    spec.exec = PKILL;
    spec.args = {"-9", "-f", literalPattern(path)};
    spec.env = deps_.processes.environment();
    (void)deps_.processes.run(spec);
}

std::string ServerManager::logURL() {
    std::error_code ec;
    std::filesystem::create_directories(deps_.paths.logDir, ec);
    closeLog();
    // O_APPEND: every write lands at the end, whoever else appends meanwhile.
    logFd_ = ::open(deps_.paths.engineLog.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    return deps_.paths.engineLog;
}

void ServerManager::closeLog() {
    if (logFd_ >= 0) ::close(logFd_);
    logFd_ = -1;
}

void ServerManager::pollHealth(TimePoint deadline, std::uint64_t launch) {
    if (shuttingDown_ || launch != launch_) return;
    HttpRequest request;
    request.url = HEALTH;
    request.timeout = seconds(HEALTH_TIMEOUT_S);
    std::weak_ptr<ServerManager> weak = weak_from_this();
    Dispatcher* dispatcher = &deps_.dispatcher;
    deps_.http.send(std::move(request),
                    [weak, dispatcher, deadline, launch](HttpResponse response) {
                        dispatcher->post([weak, deadline, launch, r = std::move(response)] {
                            if (auto self = weak.lock()) self->onHealth(r, deadline, launch);
                        });
                    });
}

void ServerManager::onHealth(const HttpResponse& response, TimePoint deadline,
                             std::uint64_t launch) {
    if (shuttingDown_ || launch != launch_) return;
    if (!response.error && response.status == 200) {
        restarts_ = 0;
        report(EngineState::ready);
        return;
    }
    if (deps_.dispatcher.now() > deadline) {
        report(EngineState::failed);
        return;
    }
    std::weak_ptr<ServerManager> weak = weak_from_this();
    deps_.dispatcher.postAfter(seconds(HEALTH_INTERVAL_S), [weak, deadline, launch] {
        if (auto self = weak.lock()) self->pollHealth(deadline, launch);
    });
}

void ServerManager::onChildExit(int status, std::uint64_t launch) {
    if (shuttingDown_ || launch != launch_) return;
    deps_.log.line(LOG_PREFIX + "引擎意外退出 code=" + std::to_string(status));
    report(EngineState::failed);
    // This launch is over: its remaining polls must not report for a dead child.
    const std::uint64_t ended = ++launch_;
    if (restarts_ >= maxRestarts) return;
    ++restarts_;
    std::weak_ptr<ServerManager> weak = weak_from_this();
    deps_.dispatcher.postAfter(seconds(RESTART_DELAY_S), [weak, ended] {
        auto self = weak.lock();
        // A stop() or another start() since the exit takes precedence.
        if (!self || self->shuttingDown_ || self->launch_ != ended) return;
        self->start();
    });
}

void ServerManager::report(EngineState state) {
    std::weak_ptr<ServerManager> weak = weak_from_this();
    deps_.dispatcher.post([weak, state] {
        auto self = weak.lock();
        if (self && self->onState) self->onState(state);
    });
}

}  // namespace zavren
