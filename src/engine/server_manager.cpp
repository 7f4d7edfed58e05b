#include "engine/server_manager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

#include "engine/file_trust.h"
#include "shared/constants.h"
#include "text/terms.h"

namespace zavren {

namespace {

constexpr double HEALTH_DEADLINE_S = 180;
constexpr double HEALTH_INTERVAL_S = 0.5;
constexpr double HEALTH_TIMEOUT_S = 2;
constexpr double RESTART_DELAY_S = 1.5;
constexpr double KILL_DELAY_S = 1.5;
// After SIGKILL only the reaping is left; together under the 2 s quitting allows.
constexpr double REAP_WAIT_S = 0.4;
// An install writes several entries in a row; decide once they have settled.
constexpr double FOLDER_SETTLE_S = 1.0;
const std::string STRANGER_ON_PORT = "端口 " + std::to_string(PORT) + " 被其他用户的程序占用";

// SIGTERM, SIGKILL if it outlives the grace, and wait for the reaping. Blocks.
void endChild(ChildProcess& child) {
    if (!child.isRunning()) return;
    child.terminate();
    if (child.waitForExit(seconds(KILL_DELAY_S))) return;
    child.kill();
    (void)child.waitForExit(seconds(REAP_WAIT_S));
}

std::string timestamp() {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
    return buf;
}

}  // namespace

bool isOurStaleEngine(const PortListener& listener, unsigned uid,
                      const std::vector<std::string>& engineFolders) {
    if (listener.uid != uid) return false;
    namespace fs = std::filesystem;
    auto inside = [&](const std::string& path) {
        if (path.empty() || path.front() != '/') return false;
        for (const auto& folder : engineFolders) {
            if (folder.empty()) continue;
            std::error_code ec;
            for (const std::string& f : {folder, fs::weakly_canonical(folder, ec).string()}) {
                if (!f.empty() && path.rfind(f + "/", 0) == 0) return true;
            }
        }
        return false;
    };
    // A registered engine runs through a link in the folder (the program it names
    // lies elsewhere), an interpreter's engine is known by its script.
    const auto& a = listener.args;
    return inside(listener.executable) || (!a.empty() && inside(a[0])) ||
           (a.size() > 1 && inside(a[1]));
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
    startReplacing(nullptr);
}

std::optional<ServerManager::Choice> ServerManager::choiceOf(std::optional<Resolved> resolved) {
    if (!resolved) return std::nullopt;
    Choice c{std::move(*resolved)};
    struct stat st {};
    if (::lstat(c.resolved.exec.c_str(), &st) == 0) {
        c.device = st.st_dev;
        c.inode = st.st_ino;
        c.modified =
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    }
    return c;
}

// `old`, when given, is ended gracefully before the launch.
void ServerManager::startReplacing(std::shared_ptr<ChildProcess> old) {
    shuttingDown_ = false;
    auto resolved = resolve();
    chosen_ = choiceOf(resolved);
    // From here the previous child is being replaced: its exit is expected.
    const std::uint64_t launch = ++launch_;
    if (!resolved) {
        if (old) deps_.dispatcher.background([old] { endChild(*old); });
        deps_.log.line(LOG_PREFIX + "找不到可用引擎");
        report(EngineState::notInstalled);
        return;
    }
    currentKind_ = resolved->kind;

    // Our running engine, loading or not, makes way for the new one.
    if (!old && process_ && process_->isRunning()) old = process_;
    // Ending engines can take a while: never on the main thread.
    std::weak_ptr<ServerManager> weak = weak_from_this();
    Dispatcher* dispatcher = &deps_.dispatcher;
    PortOwners* ports = &deps_.ports;
    std::vector<std::string> folders{deps_.paths.engineRoot, deps_.devCheckout};
    deps_.dispatcher.background([weak, dispatcher, ports, old, folders, r = *resolved, launch] {
        if (old) endChild(*old);
        // A copy of ours left by an earlier run holds the port; only that pid is
        // signalled, never whatever else runs from the engine folder.
        for (const auto& l : ports->listeners(PORT)) {
            if (isOurStaleEngine(l, ::geteuid(), folders)) ports->stopProcess(l.pid);
        }
        dispatcher->post([weak, r, launch] {
            auto self = weak.lock();
            // A stop() or another start() meanwhile takes precedence.
            if (!self || self->shuttingDown_ || self->launch_ != launch) return;
            self->launch(r, launch);
        });
    });
}

void ServerManager::launch(const Resolved& resolved, std::uint64_t launch) {
    reopenLog();
    writeSeparator(resolved);
    if (auto problem = termsFileProblem(deps_.paths.termsFile))
        deps_.log.line(LOG_PREFIX + *problem);
    // Checked at registration too; what a link points to can change since.
    if (auto why = untrustedLaunch(resolved, ::geteuid())) {
        const std::string problem = "引擎文件不安全:" + *why;
        deps_.log.line(LOG_PREFIX + problem);
        report(EngineState::failed, problem);
        return;
    }

    ProcessSpec spec;
    spec.exec = resolved.exec;
    spec.args = resolved.args;
    spec.env = deps_.processes.environment();
    for (const auto& [k, v] : resolved.env) spec.env[k] = v;
    spec.outputFd = logFd_;

    std::weak_ptr<ServerManager> weak = weak_from_this();
    Dispatcher* dispatcher = &deps_.dispatcher;
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

void ServerManager::writeSeparator(const Resolved& resolved) {
    if (logFd_ < 0) return;
    const std::string line = "\n===== " + timestamp() + " 启动引擎 (" + toString(resolved.kind) +
                             "): " + commandLine(resolved) + " =====\n";
    (void)::write(logFd_, line.data(), line.size());
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

void ServerManager::stopAndWait() {
    shuttingDown_ = true;
    quitting_ = true;
    if (process_) endChild(*process_);
    closeLog();
}

bool ServerManager::strangerListens() {
    if (deps_.ports.owner(PORT) != ListenerOwner::stranger) return false;
    if (problem_ != STRANGER_ON_PORT) deps_.log.line(LOG_PREFIX + STRANGER_ON_PORT);
    // Set at once (not only on delivery) so a burst of checks logs one line.
    problem_ = STRANGER_ON_PORT;
    report(EngineState::failed, STRANGER_ON_PORT);
    return true;
}

bool ServerManager::confirmOwnListener() {
    return !strangerListens();
}

void ServerManager::followEngineFolder(FolderWatcher& watcher) {
    std::weak_ptr<ServerManager> weak = weak_from_this();
    Dispatcher* dispatcher = &deps_.dispatcher;
    folderWatch_ = watcher.watch(deps_.paths.engineRoot, [weak, dispatcher] {
        dispatcher->post([weak] {
            if (auto self = weak.lock()) self->engineFolderChanged();
        });
    });
    if (!folderWatch_) deps_.log.line(LOG_PREFIX + "无法监视引擎目录 " + deps_.paths.engineRoot);
}

void ServerManager::engineFolderChanged() {
    const std::uint64_t event = ++folderEvents_;
    std::weak_ptr<ServerManager> weak = weak_from_this();
    deps_.dispatcher.postAfter(seconds(FOLDER_SETTLE_S), [weak, event] {
        auto self = weak.lock();
        // An engine added or unpacked after a stop (a re-download that failed,
        // say) is still the user's engine to start; only quitting forbids it.
        if (!self || self->folderEvents_ != event || self->quitting_) return;
        if (choiceOf(self->resolve()) == self->chosen_) return;
        auto old = self->process_;
        self->startReplacing(old && old->isRunning() ? old : nullptr);
    });
}

void ServerManager::reopenLog() {
    std::error_code ec;
    std::filesystem::create_directories(deps_.paths.logDir, ec);
    closeLog();
    // O_APPEND: every write lands at the end, whoever else appends meanwhile. The
    // log holds what the engine heard and said: only the user may read it.
    logFd_ = ::open(deps_.paths.engineLog.c_str(),
                    O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
}

void ServerManager::closeLog() {
    if (logFd_ >= 0) ::close(logFd_);
    logFd_ = -1;
}

void ServerManager::pollHealth(TimePoint deadline, std::uint64_t launch) {
    if (shuttingDown_ || launch != launch_) return;
    if (strangerListens()) return;
    HttpRequest request;
    request.url = HEALTH;
    request.timeout = seconds(HEALTH_TIMEOUT_S);
    // A trickling answer must not hold the next poll back.
    request.deadline = seconds(HEALTH_INTERVAL_S);
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
        // Only our own healthy child proves the crashes are over.
        if (process_ && process_->isRunning()) restarts_ = 0;
        report(EngineState::ready);
        return;
    }
    if (deps_.dispatcher.now() > deadline) {
        deps_.log.line(LOG_PREFIX + "引擎启动超时:" +
                       std::to_string(static_cast<int>(HEALTH_DEADLINE_S)) + " 秒内未就绪");
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
    // This launch is over: its remaining polls must not report for a dead child.
    const std::uint64_t ended = ++launch_;
    // It could not bind the port another user holds; a restart would fail alike.
    if (strangerListens()) return;
    report(EngineState::failed);
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

void ServerManager::report(EngineState state, std::string problem) {
    std::weak_ptr<ServerManager> weak = weak_from_this();
    deps_.dispatcher.post([weak, state, problem = std::move(problem)] {
        auto self = weak.lock();
        if (!self) return;
        self->problem_ = problem;
        if (self->onState) self->onState(state);
    });
}

}  // namespace zavren
