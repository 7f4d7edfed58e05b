#include <unistd.h>

#include <cstdio>
#include <deque>
#include <string>

#include "cli/cli.h"
#include "engine/installer/engine_installer.h"
#include "engine/installer/install_from.h"
#include "engine/locator.h"
#include "engine/manifest.h"
#include "posix/curl_http_client.h"
#include "posix/run_loop.h"
#include "shared/paths.h"
#include "shared/url.h"
#include "update/update_base.h"

namespace zavren::cli {

namespace {

constexpr double MANIFEST_DEADLINE_S = 30;

const char* INSTALL_HELP =
    "用法: zavren engine install [--force] [--from PATH]\n"
    "\n"
    "从下载服务器(ZAVREN_UPDATE_BASE,未设置时用内置地址)获取 engine.json,\n"
    "下载引擎包(中断后再次运行会从断点继续)、校验 SHA-256、解压并安装到\n"
    "$XDG_DATA_HOME/zavren/engine。该版本已安装时什么也不做;\n"
    "--force 重新下载并替换同版本的引擎,其他版本保留。\n"
    "--from PATH 不联网,从在别处下载好的文件安装:PATH 是放着 engine.json 和\n"
    "它所指引擎包的文件夹,或 engine.json 本身;大小与 SHA-256 照样校验。\n"
    "\n"
    "退出码: 0 引擎已就位; 1 安装失败; 2 用法错误。\n";

std::string clock(double secondsLeft) {
    if (secondsLeft < 0 || secondsLeft > 99 * 3600) return "--:--";
    auto s = static_cast<long>(secondsLeft + 0.5);
    char buf[32];
    if (s >= 3600) {
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(buf, sizeof buf, "%02ld:%02ld", s / 60, s % 60);
    }
    return buf;
}

// Renders the installer's phases: a redrawn bar on a terminal, one line per step
// (and per tenth of the download) otherwise.
class Reporter {
  public:
    Reporter(Dispatcher& clock, bool tty) : clock_(clock), tty_(tty) {}

    void show(const InstallPhase& p) {
        if (auto d = p.get<InstallPhase::Downloading>()) {
            progress(*d);
            return;
        }
        endBar();
        if (p.is<InstallPhase::Manifest>()) {
            std::printf("正在获取引擎信息…\n");
        } else if (p.is<InstallPhase::Verifying>()) {
            std::printf("正在校验…\n");
        } else if (p.is<InstallPhase::Extracting>()) {
            std::printf("正在解压…\n");
        } else if (auto f = p.get<InstallPhase::Failed>()) {
            std::fprintf(stderr, "%s\n", f->message.c_str());
        }
        std::fflush(stdout);
    }

  private:
    void progress(const InstallPhase::Downloading& d) {
        TimePoint now = clock_.now();
        if (samples_.empty()) {
            std::printf("正在下载引擎包(%s)%s\n", fmtMB(d.total).c_str(),
                        d.received > 0 ? (",从 " + fmtMB(d.received) + " 处继续").c_str() : "");
        }
        // A restart from zero (server ignored the range) resets the speed window.
        if (!samples_.empty() && d.received < samples_.back().second) samples_.clear();
        samples_.emplace_back(now, d.received);
        while (samples_.size() > 2 && now - samples_.front().first > seconds(5))
            samples_.pop_front();
        double speed = 0;
        if (samples_.size() >= 2) {
            double dt = std::chrono::duration<double>(now - samples_.front().first).count();
            if (dt > 0) speed = static_cast<double>(d.received - samples_.front().second) / dt;
        }
        int percent = d.total > 0 ? static_cast<int>(d.received * 100 / d.total) : 0;
        double left = speed > 0 ? static_cast<double>(d.total - d.received) / speed : -1;

        if (tty_) {
            const int width = 24;
            int filled = percent * width / 100;
            std::string bar(static_cast<std::size_t>(filled), '#');
            bar.append(static_cast<std::size_t>(width - filled), '-');
            std::printf("\r[%s] %3d%%  %s / %s  %.1f MB/s  剩余 %s\033[K", bar.c_str(), percent,
                        fmtMB(d.received).c_str(), fmtMB(d.total).c_str(), speed / 1048576.0,
                        clock(left).c_str());
            barShown_ = true;
        } else if (percent / 10 > lastTenth_) {
            lastTenth_ = percent / 10;
            std::printf("下载 %d%%  %s / %s\n", percent, fmtMB(d.received).c_str(),
                        fmtMB(d.total).c_str());
        }
        std::fflush(stdout);
    }
    void endBar() {
        if (barShown_) std::printf("\n");
        barShown_ = false;
        samples_.clear();
        lastTenth_ = -1;
    }

    Dispatcher& clock_;
    bool tty_;
    bool barShown_ = false;
    int lastTenth_ = -1;
    std::deque<std::pair<TimePoint, std::int64_t>> samples_;
};

// The version engine.json announces; nullopt when it cannot be had (the installer
// then reports why).
std::optional<std::string> announcedVersion(RunLoopDispatcher& loop, HttpClient& http,
                                            const std::string& base) {
    HttpRequest request;
    request.url = appendPathComponent(base, "engine.json");
    request.cache = HttpRequest::CachePolicy::reloadIgnoringLocalCache;
    request.deadline = seconds(MANIFEST_DEADLINE_S);
    std::optional<std::optional<std::string>> version;
    http.send(request, [&loop, &version](HttpResponse r) {
        std::optional<std::string> v;
        if (!r.error && r.status == 200)
            if (auto m = EngineManifest::decode(r.body))
                // Only a plain name can be a folder of its own under the root.
                if (m->version.find('/') == std::string::npos &&
                    m->version.find("..") == std::string::npos)
                    v = m->version;
        loop.post([&version, v] { version = v; });
    });
    loop.runUntil([&] { return version.has_value(); }, seconds(MANIFEST_DEADLINE_S + 5));
    return version.value_or(std::nullopt);
}

// After a successful unpack: where the chosen engine now is.
int reportInstalled(const std::string& root) {
    auto engine = EngineLocator::installed(root);
    if (!engine) {
        std::fprintf(stderr, "引擎包已解压,但其中没有可用的引擎(缺少 bin/llama-server 等文件)\n");
        return 1;
    }
    std::printf("引擎已安装: %s(版本 %s)\n", engine->dir.c_str(),
                engine->version.empty() ? "无" : engine->version.c_str());
    return 0;
}

// Installs from files already on this machine; never touches the network.
int installFrom(const std::string& path, bool force) {
    const std::string root = EngineLocator::root(Paths::fromEnvironment(currentEnvironment()));
    auto located = InstallFrom::locate(path);
    if (auto* why = std::get_if<std::string>(&located)) {
        std::fprintf(stderr, "zavren: %s\n", why->c_str());
        return 1;
    }
    const auto& package = std::get<InstallFrom::Package>(located);
    // The version names a folder under the root: only a plain name can.
    const std::string& version = package.version;
    if (!force && version.find('/') == std::string::npos &&
        version.find("..") == std::string::npos &&
        EngineLocator::usable(EngineLocator::versionDir(root, version))) {
        std::printf("引擎 %s 已安装在 %s,无需安装(用 --force 重新安装)\n", version.c_str(),
                    EngineLocator::versionDir(root, version).c_str());
        return 0;
    }
    std::printf("引擎包: %s(%s)\n安装目录: %s\n", package.archive.c_str(),
                fmtMB(package.asset.size).c_str(), root.c_str());
    RunLoopDispatcher clock(1);
    Reporter reporter(clock, false);
    const InstallPhase result =
        InstallFrom::install(package, root, [&](const InstallPhase& p) { reporter.show(p); });
    if (result.is<InstallPhase::Failed>()) {
        reporter.show(result);
        return 1;
    }
    return reportInstalled(root);
}

}  // namespace

int engineInstallCommand(const Args& args) {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(INSTALL_HELP, stdout);
        return 0;
    }
    bool force = false;
    std::optional<std::string> from;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--force" && !force) {
            force = true;
        } else if (args[i] == "--from" && !from && i + 1 < args.size()) {
            from = args[++i];
        } else {
            std::fprintf(stderr, "zavren: %s: %s\n\n%s",
                         args[i] == "--from" ? "缺少路径或重复出现" : "多余的参数", args[i].c_str(),
                         INSTALL_HELP);
            return 2;
        }
    }
    if (from) return installFrom(*from, force);
    const auto env = currentEnvironment();
    const Paths paths = Paths::fromEnvironment(env);
    const auto given = env.find("ZAVREN_UPDATE_BASE");
    const UpdateBase base = resolveUpdateBase(
        given == env.end() ? std::nullopt : std::optional<std::string>(given->second));
    if (base.warning) std::fprintf(stderr, "zavren: %s\n", base.warning->c_str());
    const std::string root = EngineLocator::root(paths);

    RunLoopDispatcher loop(2);
    CurlHttpClient http;
    EngineInstaller installer(loop, http, root, base.url);
    Reporter reporter(loop, ::isatty(STDOUT_FILENO) == 1);

    if (!force) {
        auto version = announcedVersion(loop, http, base.url);
        if (version && EngineLocator::usable(EngineLocator::versionDir(root, *version))) {
            std::printf("引擎 %s 已安装在 %s,无需下载(用 --force 重新安装)\n", version->c_str(),
                        EngineLocator::versionDir(root, *version).c_str());
            return 0;
        }
    }

    std::printf("下载地址: %s\n安装目录: %s\n",
                appendPathComponent(base.url, "engine.json").c_str(), root.c_str());
    auto sub = installer.subscribe([&] {
        const InstallPhase& p = installer.phase();
        reporter.show(p);
        if (p.is<InstallPhase::Done>() || p.is<InstallPhase::Failed>()) loop.quit();
    });
    installer.start();
    loop.run();

    if (!installer.phase().is<InstallPhase::Done>()) return 1;
    return reportInstalled(root);
}

}  // namespace zavren::cli
