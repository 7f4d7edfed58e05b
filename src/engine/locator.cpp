#include "engine/locator.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "shared/version_compare.h"

namespace zavren::EngineLocator {

namespace fs = std::filesystem;

namespace {

const std::string PREFIX = "engine-";

bool isExecutableFile(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
}

bool present(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0;
}

std::optional<EngineKind> kindOf(const fs::path& dir) {
    if (isExecutableFile(dir / "bin/llama-server") && present(dir / "models/qwen3-asr.gguf") &&
        present(dir / "models/mmproj.gguf"))
        return EngineKind::llama;
    if (isExecutableFile(dir / "python/bin/python3.13") && present(dir / "voice_server.py"))
        return EngineKind::python;
    return std::nullopt;
}

}  // namespace

std::string versionDir(const std::string& root, const std::string& version) {
    return (fs::path(root) / (PREFIX + version)).string();
}

bool usable(const std::string& dir) {
    return kindOf(dir).has_value();
}

namespace {

bool beats(const Installed& candidate, const Installed& best) {
    if (candidate.kind != best.kind) return candidate.kind == EngineKind::llama;
    return compareNumeric(best.version, candidate.version) < 0;
}

}  // namespace

std::optional<EngineKind> engineKind(const std::string& dir) {
    return kindOf(dir);
}

std::optional<Installed> installed(const std::string& root) {
    if (root.empty()) return std::nullopt;
    std::error_code ec;
    fs::directory_iterator it(root, ec);
    if (ec) return std::nullopt;

    std::optional<Installed> best;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        const fs::path& path = it->path();
        const std::string name = path.filename().string();
        if (name.compare(0, PREFIX.size(), PREFIX) != 0) continue;
        auto kind = kindOf(path);
        if (!kind) continue;
        Installed candidate{path.string(), name.substr(PREFIX.size()), *kind};
        if (!best || beats(candidate, *best)) best = std::move(candidate);
    }
    return best;
}

namespace {

// Every path a registration may make a link (see the registry's layouts).
const char* const LINKABLE[] = {"bin/llama-server",   "models/qwen3-asr.gguf",
                                "models/mmproj.gguf", "python/bin/python3.13",
                                "voice_server.py",    "models"};

template <class Fn>
void forEachEngine(const std::string& root, Fn fn) {
    std::error_code ec;
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename().string().rfind(PREFIX, 0) == 0) fn(it->path());
    }
}

}  // namespace

bool downloaded(const std::string& dir) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    for (const char* entry : LINKABLE) {
        const fs::path p = fs::path(dir) / entry;
        std::error_code ec;
        if (fs::is_symlink(fs::symlink_status(p, ec)) && fs::read_symlink(p, ec).is_absolute())
            return false;
    }
    return true;
}

bool anyDownloaded(const std::string& root) {
    bool found = false;
    forEachEngine(root, [&found](const fs::path& p) { found = found || downloaded(p); });
    return found;
}

void removeDownloaded(const std::string& root) {
    std::vector<fs::path> doomed;
    forEachEngine(root, [&doomed](const fs::path& p) {
        if (downloaded(p)) doomed.push_back(p);
    });
    for (const char* leftover : {"download.partial", ".extract-tmp", ".install-from.tmp"})
        doomed.push_back(fs::path(root) / leftover);
    std::error_code ec;
    for (const auto& p : doomed) fs::remove_all(p, ec);
}

void removeAll(const std::string& root) {
    if (root.empty()) return;
    std::error_code ec;
    fs::remove_all(root, ec);
}

}  // namespace zavren::EngineLocator
