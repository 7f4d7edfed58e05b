#include "engine/installer/engine_registry.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>

#include "engine/file_trust.h"
#include "engine/installer/partial_file.h"
#include "engine/locator.h"
#include "shared/files.h"
#include "shared/version_compare.h"

namespace zavren::EngineRegistry {

namespace fs = std::filesystem;

namespace {

const std::string PREFIX = "engine-";
const std::size_t MAX_NAME = 100;
// Layout entries that list() reports when present.
const char* const LAYOUT[] = {"bin/llama-server",   "models/qwen3-asr.gguf",
                              "models/mmproj.gguf", "python/bin/python3.13",
                              "voice_server.py",    "models"};

Result refused(std::string why) {
    return {Result::Status::refused, std::move(why)};
}

Result failed(const std::string& what, int err) {
    return {Result::Status::failed, what + ":" + describeErrno(err)};
}

// A hidden working folder in root: never an "engine-" name, so never seen as an engine.
std::optional<std::string> makeScratch(const std::string& root, const char* stem) {
    std::string t = root + "/" + stem + "XXXXXX";
    if (!::mkdtemp(t.data())) return std::nullopt;
    return t;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

// Renames without ever replacing what is at `to`.
int renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // File systems without the flag: a racing creator could still slip in, but an
    // engine folder is never empty, so rename() would fail on it rather than replace it.
    if (exists(to)) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

Result build(const std::string& dir, const std::vector<Link>& links) {
    for (const auto& link : links) {
        const fs::path at = fs::path(dir) / link.inside;
        std::error_code ec;
        fs::create_directories(at.parent_path(), ec);
        if (ec) return failed("无法创建 " + at.parent_path().string(), ec.value());
        if (::symlink(link.target.c_str(), at.c_str()) != 0)
            return failed("无法创建链接 " + at.string(), errno);
    }
    return {Result::Status::done, dir};
}

}  // namespace

std::vector<Link> llamaLinks(const std::string& server, const std::string& model,
                             const std::string& mmproj) {
    return {{"bin/llama-server", server, Link::Need::executable, "llama-server 程序"},
            {"models/qwen3-asr.gguf", model, Link::Need::readable, "模型文件"},
            {"models/mmproj.gguf", mmproj, Link::Need::readable, "mmproj 投影文件"}};
}

std::vector<Link> pythonLinks(const std::string& python, const std::string& script,
                              const std::string& models) {
    std::vector<Link> links{
        {"python/bin/python3.13", python, Link::Need::executable, "Python 解释器"},
        {"voice_server.py", script, Link::Need::code, "服务脚本"}};
    if (!models.empty()) links.push_back({"models", models, Link::Need::directory, "模型目录"});
    return links;
}

std::optional<std::string> nameProblem(std::string_view name) {
    if (name.empty()) return "名称不能为空";
    if (name.size() > MAX_NAME) return "名称太长(最多 " + std::to_string(MAX_NAME) + " 个字符)";
    auto alnum = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    };
    if (!alnum(name.front())) return "名称必须以字母或数字开头";
    for (char c : name)
        if (!alnum(c) && c != '.' && c != '-' && c != '_' && c != '+')
            return "名称只能包含字母、数字和 . - _ +";
    if (name.find("..") != std::string_view::npos) return "名称不能包含 ..";
    return std::nullopt;
}

std::string defaultName(std::chrono::system_clock::time_point now) {
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    ::gmtime_r(&t, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    return std::string("local-") + stamp;
}

std::optional<std::string> targetProblem(const Link& link) {
    struct stat st {};
    if (::stat(link.target.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? "不存在" : describeErrno(errno);
    if (link.need == Link::Need::directory) {
        if (!S_ISDIR(st.st_mode)) return "不是文件夹";
        if (::access(link.target.c_str(), R_OK | X_OK) != 0) return "无法读取";
        return untrustedPath(link.target, ::geteuid());
    }
    if (!S_ISREG(st.st_mode)) return "不是普通文件";
    if (link.need == Link::Need::executable && ::access(link.target.c_str(), X_OK) != 0)
        return "没有执行权限";
    if (::access(link.target.c_str(), R_OK) != 0) return "无法读取";
    return untrustedPath(link.target, ::geteuid());
}

Result add(const std::string& root, std::vector<Link> links, std::optional<std::string> name,
           std::chrono::system_clock::time_point now) {
    if (name) {
        if (auto why = nameProblem(*name)) return refused("名称 \"" + *name + "\" 无效:" + *why);
        if (exists(root + "/" + PREFIX + *name)) return refused("已有名为 " + *name + " 的引擎");
    }
    for (auto& link : links) {
        std::error_code ec;
        // The links must not depend on the folder they sit in.
        if (!link.target.empty()) link.target = fs::absolute(link.target, ec).string();
        if (link.target.empty() || ec) return refused("缺少" + link.what + "的路径");
        if (auto why = targetProblem(link))
            return refused(link.what + " " + link.target + " " + *why);
    }

    std::error_code ec;
    fs::create_directories(root, ec);
    if (ec) return failed("无法创建引擎目录 " + root, ec.value());
    auto scratch = makeScratch(root, ".add-");
    if (!scratch) return failed("无法在 " + root + " 中创建临时目录", errno);
    Result r = build(*scratch, links);

    // A default name taken in the same second gets a suffix, which orders after it.
    const std::string base = name ? *name : defaultName(now);
    for (int n = 1; r.status == Result::Status::done; ++n) {
        const std::string candidate = n == 1 ? base : base + "-" + std::to_string(n);
        const std::string dest = root + "/" + PREFIX + candidate;
        const int err = renameNoReplace(*scratch, dest);
        if (err == 0) return {Result::Status::done, dest};
        if (err != EEXIST && err != ENOTEMPTY)
            r = failed("无法把引擎移入 " + dest, err);
        else if (name || n >= 20)
            r = refused("已有名为 " + candidate + " 的引擎");
    }
    fs::remove_all(*scratch, ec);  // removes the links, never their targets
    return r;
}

std::optional<std::string> chosenInstead(const std::string& root, const std::string& added) {
    const auto chosen = EngineLocator::installed(root);
    if (!chosen || chosen->dir == added) return std::nullopt;
    return "正在使用的仍是 " + chosen->dir + "(llama 引擎优先于 python,同类型时版本名较大者优先)";
}

Result remove(const std::string& root, const std::string& name) {
    // Looser than for new names, so that every engine list() shows can be removed.
    if (name.find('/') != std::string::npos || name.find("..") != std::string::npos)
        return refused("名称 \"" + name + "\" 无效");
    const std::string dir = root + "/" + PREFIX + name;
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return refused("没有名为 " + name + " 的引擎");
        return failed("无法访问 " + dir, errno);
    }
    // Out of sight in one step, so nothing ever sees a half-removed engine.
    auto scratch = makeScratch(root, ".remove-");
    if (!scratch) return failed("无法在 " + root + " 中创建临时目录", errno);
    std::error_code ec;
    // Moving a folder rewrites its "..": one unpacked read-only must be opened first.
    if (S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & S_IWUSR) == 0)
        ::chmod(dir.c_str(), (st.st_mode & 07777) | S_IRWXU);
    if (::rename(dir.c_str(), (*scratch + "/" + PREFIX + name).c_str()) != 0) {
        const int err = errno;
        fs::remove(*scratch, ec);
        return failed("无法删除 " + dir, err);
    }
    // Links are removed, never followed; folders an archive made read-only are
    // opened up first.
    if (!files::removeTree(*scratch)) return failed("引擎已移除,但未能删除 " + *scratch, EACCES);
    return {Result::Status::done, dir};
}

std::vector<Entry> list(const std::string& root) {
    std::vector<Entry> out;
    std::error_code ec;
    fs::directory_iterator it(root, ec);
    for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        const std::string base = it->path().filename().string();
        if (base.compare(0, PREFIX.size(), PREFIX) != 0) continue;
        Entry e{base.substr(PREFIX.size()),
                it->path().string(),
                EngineLocator::engineKind(it->path()),
                false,
                {}};
        for (const char* inside : LAYOUT) {
            const fs::path p = it->path() / inside;
            std::error_code lec;
            const bool link = fs::is_symlink(fs::symlink_status(p, lec));
            if (link)
                e.files.emplace_back(inside, fs::read_symlink(p, lec).string());
            else if (fs::is_regular_file(fs::symlink_status(p, lec)))
                e.files.emplace_back(inside, "");
        }
        out.push_back(std::move(e));
    }
    const auto chosen = EngineLocator::installed(root);
    for (auto& e : out) e.chosen = chosen && chosen->dir == e.dir;
    std::sort(out.begin(), out.end(),
              [](const Entry& a, const Entry& b) { return numericLess(a.name, b.name); });
    return out;
}

}  // namespace zavren::EngineRegistry
