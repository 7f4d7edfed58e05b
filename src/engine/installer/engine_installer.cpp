#include "engine/installer/engine_installer.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "engine/installer/archive_listing.h"
#include "engine/installer/partial_file.h"
#include "engine/manifest.h"
#include "shared/url.h"

namespace zavren {

namespace fs = std::filesystem;

namespace {

const std::string MSG_NETWORK_PREFIX = "无法获取引擎信息:";
const std::string MSG_BAD_RESPONSE = "响应异常";
const std::string MSG_NETWORK_SUFFIX = ",请检查网络后重试";
const std::string MSG_CANNOT_WRITE = "无法写入下载文件(磁盘权限?)";
const std::string MSG_CORRUPT = "校验失败(文件损坏),已清理,请重试";
const std::string MSG_NO_ENGINE_DIR = "引擎包结构异常(未找到 engine-* 目录),请重试";

std::string interrupted(const std::string& why, std::int64_t received) {
    return "下载中断:" + why + "。已下 " + fmtMB(received) + ",点重试从断点继续";
}

// Needed rounds up and free rounds down: nearest rounding can print the same
// number on both sides of a refusal.
std::string noSpace(std::int64_t needed, std::int64_t free) {
    constexpr std::int64_t MB = 1048576;
    auto mb = [](std::int64_t bytes, bool up) {
        return std::to_string(bytes / MB + (up && bytes % MB != 0 ? 1 : 0)) + " MB";
    };
    return "磁盘空间不足:需要 " + mb(needed, true) + ",可用 " + mb(free, false) +
           ",请清理磁盘后重试";
}

// What the rest of the download and the unpacked engine (about twice the archive)
// will take, saturating for absurd sizes.
std::int64_t spaceNeeded(std::int64_t size, std::int64_t held) {
    constexpr std::int64_t MAX = std::numeric_limits<std::int64_t>::max();
    return size > MAX / 3 ? MAX : 3 * size - held;
}

std::string tarExit(int status) {
    return "解压失败(tar exit " + std::to_string(status) + "),请重试";
}

// Names from a hostile archive go into a message: keep them short and printable.
std::string printable(const std::string& text) {
    std::string out;
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        out += (u >= 0x20 && u < 0x7f) ? c : '?';
        if (out.size() >= 100) {
            out += "...";
            break;
        }
    }
    return out;
}

constexpr std::size_t WRITE_BLOCK = 1 << 20;

InstallPhase phaseOf(InstallPhase::Value v) {
    return InstallPhase{std::move(v)};
}

}  // namespace

std::string systemTar() {
    for (const char* candidate : {"/usr/bin/tar", "/bin/tar"}) {
        if (::access(candidate, X_OK) == 0) return candidate;
    }
    return "/usr/bin/tar";
}

namespace {

// Lists the archive before unpacking it; a message when it must not be unpacked.
std::optional<std::string> inspectArchive(ProcessLauncher& launcher, const std::string& archive) {
    std::FILE* out = std::tmpfile();
    if (!out) return "解压失败:" + describeErrno(errno);
    ProcessSpec list;
    list.exec = systemTar();
    list.args = {"--list",          "--verbose",         "--gzip", "--absolute-names",
                 "--numeric-owner", "--quoting-style=c", "--file", archive};
    list.env = launcher.environment();
    list.env["LC_ALL"] = "C";  // untranslated "link to" and octal escapes
    list.outputFd = ::fileno(out);
    RunResult r = launcher.run(list);
    std::string listing;
    if (r.launched && r.status == 0) {
        std::rewind(out);
        char buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, out)) > 0) listing.append(buf, n);
    }
    std::fclose(out);
    if (!r.launched) return "解压失败:" + r.error;
    if (r.status != 0) return tarExit(r.status);
    auto members = parseTarListing(listing);
    if (!members) return std::string("解压失败:无法读取引擎包的文件列表");
    if (auto bad = unsafeMember(*members))
        return "解压失败:引擎包含有不安全的条目 " + printable(bad->name) + "(" + bad->reason + ")";
    return std::nullopt;
}

}  // namespace

std::optional<std::string> unpackEngine(ProcessLauncher& launcher, const std::string& archive,
                                        const std::string& root) {
    const std::string scratch = root + "/.extract-tmp";
    std::error_code ec;
    fs::remove_all(scratch, ec);
    fs::create_directories(scratch, ec);

    if (auto refusal = inspectArchive(launcher, archive)) return refusal;
    ProcessSpec tar;
    tar.exec = systemTar();
    // As root, tar would otherwise restore foreign owners and set-id bits.
    tar.args = {"-xzf", archive, "-C", scratch, "--no-same-owner", "--no-same-permissions"};
    tar.env = launcher.environment();
    RunResult r = launcher.run(tar);
    if (!r.launched) return "解压失败:" + r.error;
    if (r.status != 0) return tarExit(r.status);

    std::optional<fs::path> found;
    std::error_code lec;
    for (fs::directory_iterator it(scratch, lec), end; !lec && it != end; it.increment(lec)) {
        std::string name = it->path().filename().string();
        std::error_code sec;
        if (name.rfind("engine-", 0) == 0 && fs::is_directory(it->symlink_status(sec))) {
            found = it->path();
            break;
        }
    }
    if (!found) return MSG_NO_ENGINE_DIR;
    fs::path dest = fs::path(root) / found->filename();
    fs::remove_all(dest, ec);
    std::error_code mec;
    fs::rename(*found, dest, mec);
    if (mec) return "安装失败:" + describeErrno(mec.value());
    fs::remove_all(scratch, ec);
    return std::nullopt;
}

// One download session: owned by the core, shared with the transfer callbacks.
// Its fields pass from the scan (background) to the main thread, then to the HTTP
// thread, then to verification, each hand-off ordered by a queue.
struct Attempt {
    EngineManifest::Asset asset;
    PartialFile file;     // file.received/hasher cover exactly the bytes written to disk
    std::string pending;  // received, not yet written: chunks are small, syscalls are not free
    std::optional<TimePoint> lastUI;  // none: the first chunk publishes
    int status = 0;
    int writeError = 0;
    std::shared_ptr<HttpTask> task;

    Attempt() = default;
    Attempt(const Attempt&) = delete;
    Attempt& operator=(const Attempt&) = delete;
    // An attempt dropped before its transfer ended (the installer went away) still
    // releases its file.
    ~Attempt() {
        if (file.fd >= 0) ::close(file.fd);
    }
};

struct EngineInstaller::Core : std::enable_shared_from_this<Core> {
    Dispatcher& dispatcher;
    HttpClient& http;
    ProcessLauncher& launcher;
    std::string root;
    std::string base;
    EngineInstaller* owner;

    InstallPhase phase;
    bool running = false;
    std::vector<std::weak_ptr<std::function<void()>>> observers;
    std::shared_ptr<HttpTask> manifestTask;
    std::shared_ptr<Attempt> attempt;

    Core(Dispatcher& d, HttpClient& h, ProcessLauncher& l, std::string r, std::string b,
         EngineInstaller* o)
        : dispatcher(d), http(h), launcher(l), root(std::move(r)), base(std::move(b)), owner(o) {}

    std::string partialPath() const { return root + "/download.partial"; }

    // --- main thread -------------------------------------------------------

    void setPhase(InstallPhase p) {
        phase = std::move(p);
        auto current = observers;
        for (const auto& weak : current) {
            if (auto fn = weak.lock()) (*fn)();
        }
        std::erase_if(observers, [](const auto& w) { return w.expired(); });
    }

    void finish(InstallPhase p) {
        running = false;
        // The task may hold the handlers, which hold the attempt: break that cycle.
        if (attempt) attempt->task.reset();
        attempt.reset();
        manifestTask.reset();
        bool done = p.is<InstallPhase::Done>();
        setPhase(std::move(p));
        if (done && owner && owner->onDone) owner->onDone();
    }

    // Runs fn on the main queue while the core is alive.
    void toMain(std::function<void(Core&)> fn) {
        std::weak_ptr<Core> weak = weak_from_this();
        dispatcher.post([weak, fn = std::move(fn)] {
            if (auto self = weak.lock()) fn(*self);
        });
    }
    void publish(InstallPhase p) {
        toMain([p = std::move(p)](Core& c) { c.setPhase(p); });
    }
    void fail(std::string message) {
        toMain([m = std::move(message)](Core& c) { c.finish(phaseOf(InstallPhase::Failed{m})); });
    }

    void start() {
        if (running) return;
        running = true;
        setPhase(phaseOf(InstallPhase::Manifest{}));
        std::error_code ec;
        fs::create_directories(root, ec);

        HttpRequest req;
        req.url = appendPathComponent(base, "engine.json");
        req.timeout = seconds(20);
        req.deadline = MANIFEST_DEADLINE;
        req.maxBodyBytes = MANIFEST_MAX_BYTES;
        req.cache = HttpRequest::CachePolicy::reloadIgnoringLocalCache;
        std::weak_ptr<Core> weak = weak_from_this();
        manifestTask = http.send(std::move(req), [weak](HttpResponse response) {
            auto self = weak.lock();
            if (!self) return;
            std::optional<EngineManifest::Asset> asset;
            if (!response.body.empty()) {
                if (auto m = EngineManifest::decode(response.body)) {
                    auto e = m->effective();
                    // An archive address we would not fetch, or a negative size,
                    // is as useless as a body that does not decode.
                    if (isHttpUrl(e.url) && e.size >= 0) asset = e;
                }
            }
            if (!asset) {
                // An oversized answer is the server's fault, not the network's.
                bool transport = response.error && response.body.empty() &&
                                 response.error->kind != HttpError::Kind::tooLarge;
                self->fail(MSG_NETWORK_PREFIX +
                           (transport ? response.error->description : MSG_BAD_RESPONSE) +
                           MSG_NETWORK_SUFFIX);
                return;
            }
            self->toMain([a = *asset](Core& c) { c.download(a); });
        });
    }

    void download(const EngineManifest::Asset& asset) {
        auto a = std::make_shared<Attempt>();
        a->asset = asset;
        attempt = a;
        // Re-reading a large partial file takes seconds: keep it off the main thread.
        std::weak_ptr<Core> weak = weak_from_this();
        std::string path = partialPath();
        dispatcher.background([weak, a, path] {
            a->file = preparePartial(path, a->asset.size);
            if (auto self = weak.lock()) self->toMain([a](Core& c) { c.transfer(a); });
        });
    }

    void transfer(const std::shared_ptr<Attempt>& a) {
        if (a->file.fd < 0) {
            finish(phaseOf(InstallPhase::Failed{MSG_CANNOT_WRITE}));
            return;
        }
        if (owner && owner->freeBytes) {
            std::int64_t needed = spaceNeeded(a->asset.size, a->file.received);
            std::optional<std::int64_t> free = owner->freeBytes(root);
            if (free && *free < needed) {
                finish(phaseOf(InstallPhase::Failed{noSpace(needed, *free)}));
                return;
            }
        }
        setPhase(phaseOf(InstallPhase::Downloading{a->file.received, a->asset.size}));

        HttpRequest req;
        req.url = a->asset.url;
        req.timeout = seconds(60);
        if (a->file.received > 0)
            req.headers.emplace_back("Range", "bytes=" + std::to_string(a->file.received) + "-");

        std::weak_ptr<Core> weak = weak_from_this();
        HttpStreamHandlers h;
        h.onResponse = [a](int status) { onResponse(*a, status); };
        h.onData = [weak, a](const char* data, std::size_t size) {
            return onData(weak, *a, data, size);
        };
        h.onComplete = [weak, a](std::optional<HttpError> error) {
            onComplete(weak, a, std::move(error));
        };
        a->task = http.stream(std::move(req), std::move(h));
    }

    // --- HTTP thread -------------------------------------------------------

    static void onResponse(Attempt& a, int status) {
        a.status = status;
        // The server ignored the range: start over within this same attempt.
        if (status == 200 && a.file.received > 0) {
            a.file.hasher.reset();
            a.file.received = 0;
            a.pending.clear();
            if (::ftruncate(a.file.fd, 0) == 0) ::lseek(a.file.fd, 0, SEEK_SET);
        }
    }

    // Writes the pending bytes, then accounts for them; on failure the file is cut
    // back so that it holds exactly the bytes already hashed.
    static bool flush(Attempt& a) {
        if (a.pending.empty()) return true;
        if (int err = writeAll(a.file.fd, a.pending.data(), a.pending.size())) {
            a.writeError = err;
            a.pending.clear();
            if (::ftruncate(a.file.fd, a.file.received) != 0) {
                // Nothing more to do: the next scan hashes whatever is on disk.
            }
            return false;
        }
        a.file.hasher.update(a.pending.data(), a.pending.size());
        a.file.received += static_cast<std::int64_t>(a.pending.size());
        a.pending.clear();
        return true;
    }

    static bool onData(const std::weak_ptr<Core>& weak, Attempt& a, const char* data,
                       std::size_t size) {
        // An error page is not part of the archive: never let it into the file.
        if (a.status >= 400 || a.file.fd < 0) return false;
        if (a.pending.capacity() < WRITE_BLOCK) a.pending.reserve(WRITE_BLOCK);
        a.pending.append(data, size);
        const std::int64_t count = a.file.received + static_cast<std::int64_t>(a.pending.size());
        if (a.pending.size() >= WRITE_BLOCK && !flush(a)) return false;
        auto self = weak.lock();
        if (!self) return false;
        TimePoint now = self->dispatcher.now();
        if (!a.lastUI || now - *a.lastUI > PROGRESS_INTERVAL) {
            a.lastUI = now;
            self->publish(phaseOf(InstallPhase::Downloading{count, a.asset.size}));
        }
        return true;
    }

    static void onComplete(const std::weak_ptr<Core>& weak, const std::shared_ptr<Attempt>& a,
                           std::optional<HttpError> error) {
        if (a->file.fd >= 0) {
            // What arrived before an interruption is a valid prefix: keep it.
            if (a->writeError == 0 && a->status < 400) flush(*a);
            // A delayed write error can surface only here.
            if (::close(a->file.fd) != 0 && a->writeError == 0 && errno != EINTR)
                a->writeError = errno;
            a->file.fd = -1;
        }
        auto self = weak.lock();
        if (!self) return;
        const std::int64_t received = a->file.received;
        if (a->writeError != 0) {
            self->fail(interrupted(describeErrno(a->writeError), received));
        } else if (a->status == 416) {
            // The range no longer fits the server's file (it was replaced): what we
            // hold cannot be resumed, so the retry must start from zero.
            ::unlink(self->partialPath().c_str());
            self->fail(MSG_CORRUPT);
        } else if (a->status >= 400) {
            self->fail(interrupted("服务器返回 HTTP " + std::to_string(a->status), received));
        } else if (error) {
            self->fail(interrupted(error->description, received));
        } else {
            self->publish(phaseOf(InstallPhase::Verifying{}));
            self->dispatcher.background([weak, a] {
                if (auto core = weak.lock()) core->verifyAndExtract(*a);
            });
        }
    }

    // --- background --------------------------------------------------------

    void verifyAndExtract(const Attempt& a) {
        if (a.file.hasher.hexDigest() != a.asset.sha256) {
            ::unlink(partialPath().c_str());
            fail(MSG_CORRUPT);
            return;
        }
        publish(phaseOf(InstallPhase::Extracting{}));
        if (auto failure = unpackEngine(launcher, partialPath(), root)) {
            fail(*failure);
            return;
        }
        ::unlink(partialPath().c_str());
        toMain([](Core& c) { c.finish(phaseOf(InstallPhase::Done{})); });
    }
};

EngineInstaller::EngineInstaller(Dispatcher& dispatcher, HttpClient& http,
                                 ProcessLauncher& launcher, std::string installRoot,
                                 std::string downloadsBase)
    : core_(std::make_shared<Core>(dispatcher, http, launcher, std::move(installRoot),
                                   std::move(downloadsBase), this)) {}

std::optional<std::int64_t> availableBytes(const std::string& path) {
    std::error_code ec;
    auto info = fs::space(path, ec);
    if (ec ||
        info.available > static_cast<std::uintmax_t>(std::numeric_limits<std::int64_t>::max()))
        return std::nullopt;
    return static_cast<std::int64_t>(info.available);
}

EngineInstaller::~EngineInstaller() {
    core_->owner = nullptr;
    if (core_->manifestTask) core_->manifestTask->cancel();
    if (core_->attempt && core_->attempt->task) core_->attempt->task->cancel();
}

const InstallPhase& EngineInstaller::phase() const {
    return core_->phase;
}

InstallerHandle::Subscription EngineInstaller::subscribe(std::function<void()> observer) {
    auto fn = std::make_shared<std::function<void()>>(std::move(observer));
    core_->observers.push_back(fn);
    return fn;
}

void EngineInstaller::start() {
    core_->start();
}

bool EngineInstaller::running() const {
    return core_->running;
}

}  // namespace zavren
