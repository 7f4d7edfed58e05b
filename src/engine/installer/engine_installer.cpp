#include "engine/installer/engine_installer.h"

#include <unistd.h>

#include <filesystem>
#include <limits>
#include <utility>
#include <vector>

#include "engine/installer/archive_download.h"
#include "engine/installer/archive_unpack.h"
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

// What the rest of the download and the unpacked engine (about twice the archive)
// will take, saturating for absurd sizes.
std::int64_t spaceNeeded(std::int64_t size, std::int64_t held) {
    constexpr std::int64_t MAX = std::numeric_limits<std::int64_t>::max();
    return size > MAX / 3 ? MAX : 3 * size - held;
}

InstallPhase phaseOf(InstallPhase::Value v) {
    return InstallPhase{std::move(v)};
}

// The archive this manifest offers, when it is one we would fetch and could check.
std::optional<EngineManifest::Asset> assetOf(const std::string& body) {
    auto m = EngineManifest::decode(body);
    if (!m) return std::nullopt;
    auto asset = m->effective();
    auto sha = normalisedSha256(asset.sha256);
    if (!sha || !isHttpUrl(asset.url) || asset.size < 0) return std::nullopt;
    asset.sha256 = *sha;
    return asset;
}

}  // namespace

// The sequence: manifest, download into "download.partial", verification, unpacking.
// Each step reports back on the main queue, where all of this state lives.
struct EngineInstaller::Core : std::enable_shared_from_this<Core> {
    Dispatcher& dispatcher;
    HttpClient& http;
    std::string root;
    std::string base;
    EngineInstaller* owner;

    InstallPhase phase;
    bool running = false;
    std::vector<std::weak_ptr<std::function<void()>>> observers;
    std::shared_ptr<HttpTask> task;

    Core(Dispatcher& d, HttpClient& h, std::string r, std::string b, EngineInstaller* o)
        : dispatcher(d), http(h), root(std::move(r)), base(std::move(b)), owner(o) {}

    std::string partialPath() const { return root + "/download.partial"; }

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
        task.reset();
        bool done = p.is<InstallPhase::Done>();
        setPhase(std::move(p));
        if (done && owner && owner->onDone) owner->onDone();
    }
    void fail(std::string message) { finish(phaseOf(InstallPhase::Failed{std::move(message)})); }

    // Runs fn on the main queue while the core is alive.
    void toMain(std::function<void(Core&)> fn) {
        std::weak_ptr<Core> weak = weak_from_this();
        dispatcher.post([weak, fn = std::move(fn)] {
            if (auto self = weak.lock()) fn(*self);
        });
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
        task = http.send(std::move(req), [weak](HttpResponse response) {
            auto self = weak.lock();
            if (!self) return;
            auto asset = response.body.empty() ? std::nullopt : assetOf(response.body);
            if (!asset) {
                // An oversized answer is the server's fault, not the network's.
                bool transport = response.error && response.body.empty() &&
                                 response.error->kind != HttpError::Kind::tooLarge;
                std::string m = MSG_NETWORK_PREFIX +
                                (transport ? response.error->description : MSG_BAD_RESPONSE) +
                                MSG_NETWORK_SUFFIX;
                self->toMain([m](Core& c) { c.fail(m); });
                return;
            }
            self->toMain([a = *asset](Core& c) { c.scanPartial(a); });
        });
    }

    // Re-reading a large partial file takes seconds: keep it off the main thread.
    void scanPartial(const EngineManifest::Asset& asset) {
        std::weak_ptr<Core> weak = weak_from_this();
        std::string path = partialPath();
        dispatcher.background([weak, asset, path] {
            // Closed here unless the transfer takes it: the installer may be gone.
            std::shared_ptr<PartialFile> file(new PartialFile(preparePartial(path, asset.size)),
                                              [](PartialFile* f) {
                                                  if (f->fd >= 0) ::close(f->fd);
                                                  delete f;
                                              });
            if (auto self = weak.lock())
                self->toMain([asset, file](Core& c) { c.download(asset, *file); });
        });
    }

    void download(const EngineManifest::Asset& asset, PartialFile& held) {
        PartialFile file = held;
        held.fd = -1;  // the transfer owns it from here
        if (file.fd < 0) return fail(MSG_CANNOT_WRITE);
        if (owner && owner->freeBytes) {
            std::int64_t needed = spaceNeeded(asset.size, file.received);
            std::optional<std::int64_t> free = owner->freeBytes(root);
            if (free && *free < needed) {
                ::close(file.fd);
                return fail(install_messages::noSpace(needed, *free));
            }
        }
        setPhase(phaseOf(InstallPhase::Downloading{file.received, asset.size}));
        std::weak_ptr<Core> weak = weak_from_this();
        auto lastUI = std::make_shared<std::optional<TimePoint>>();  // HTTP thread only
        auto progress = [weak, lastUI, total = asset.size](std::int64_t received) {
            auto self = weak.lock();
            if (!self) return false;
            TimePoint now = self->dispatcher.now();
            if (!*lastUI || now - **lastUI > PROGRESS_INTERVAL) {
                *lastUI = now;
                self->toMain([received, total](Core& c) {
                    c.setPhase(phaseOf(InstallPhase::Downloading{received, total}));
                });
            }
            return true;
        };
        auto done = [weak, asset](DownloadOutcome outcome) {
            if (auto self = weak.lock())
                self->toMain([asset, outcome](Core& c) { c.downloaded(asset, outcome); });
        };
        task = downloadArchive(http, asset, file, partialPath(), progress, done);
    }

    void downloaded(const EngineManifest::Asset& asset, const DownloadOutcome& outcome) {
        task.reset();
        if (outcome.failure) return fail(*outcome.failure);
        setPhase(phaseOf(InstallPhase::Verifying{}));
        if (outcome.digest != asset.sha256) {
            ::unlink(partialPath().c_str());
            return fail(install_messages::CORRUPT);
        }
        setPhase(phaseOf(InstallPhase::Extracting{}));
        std::weak_ptr<Core> weak = weak_from_this();
        FreeBytesProbe free = owner ? owner->freeBytes : FreeBytesProbe{};
        dispatcher.background([weak, archive = partialPath(), root = root, free] {
            auto refusal = unpackEngine(archive, root, free);
            // The archive is kept when unpacking failed: a retry need not fetch it again.
            if (!refusal) ::unlink(archive.c_str());
            if (auto self = weak.lock()) {
                self->toMain([refusal](Core& c) {
                    if (refusal) return c.fail(*refusal);
                    c.finish(phaseOf(InstallPhase::Done{}));
                });
            }
        });
    }
};

EngineInstaller::EngineInstaller(Dispatcher& dispatcher, HttpClient& http, std::string installRoot,
                                 std::string downloadsBase)
    : core_(std::make_shared<Core>(dispatcher, http, std::move(installRoot),
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
    if (core_->task) core_->task->cancel();
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
