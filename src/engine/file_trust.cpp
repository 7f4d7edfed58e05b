#include "engine/file_trust.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

namespace zavren {

namespace {

std::string ownerProblem(const struct stat& st, uid_t uid, bool target) {
    if (st.st_uid != uid && st.st_uid != 0) return "属于其他用户";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0) return {};
    // Others may add to a sticky folder but not replace what is ours in it.
    if (!target && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) && st.st_uid == 0) return {};
    return "可被其他用户改写";
}

}  // namespace

std::optional<std::string> untrustedPath(const std::string& path, uid_t uid) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real) return std::string("无法访问");
    std::string at = real.get();
    for (bool target = true;; target = false) {
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0) return at + " 无法访问";
        std::string why = ownerProblem(st, uid, target);
        if (!why.empty()) {
            if (target) return why + ",不安全";
            return "所在文件夹 " + at + " " + why + ",不安全";
        }
        if (at == "/") return std::nullopt;
        const auto slash = at.find_last_of('/');
        at = slash == 0 ? "/" : at.substr(0, slash);
    }
}

std::optional<std::string> untrustedLaunch(const Resolved& resolved, uid_t uid) {
    auto check = [uid](const std::string& path) -> std::optional<std::string> {
        if (auto why = untrustedPath(path, uid)) return path + " " + *why;
        return std::nullopt;
    };
    if (auto why = check(resolved.exec)) return why;
    for (const auto& arg : resolved.args) {
        if (arg.empty() || arg.front() != '/') continue;
        if (auto why = check(arg)) return why;
    }
    if (auto it = resolved.env.find("HF_HOME"); it != resolved.env.end()) {
        struct stat st {};
        // A models folder that is not there yet is the engine's to complain about.
        if (::stat(it->second.c_str(), &st) == 0) return check(it->second);
    }
    return std::nullopt;
}

}  // namespace zavren
