#include "shared/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

extern char** environ;

namespace zavren {
namespace fs = std::filesystem;

namespace {

std::string get(const std::map<std::string, std::string>& env, const std::string& key) {
    auto it = env.find(key);
    return it == env.end() ? std::string() : it->second;
}

// XDG says relative values are invalid and must be ignored.
std::string xdg(const std::map<std::string, std::string>& env, const std::string& key,
                const std::string& fallback) {
    std::string v = get(env, key);
    return (!v.empty() && v.front() == '/') ? v : fallback;
}

std::string home(const std::map<std::string, std::string>& env) {
    std::string h = get(env, "HOME");
    return h.empty() ? std::string("/") : h;
}

bool isPrivateDir(const std::string& dir) {
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 0077) == 0;
}

// Creates dir 0700 when missing; a real folder of ours that others may enter is
// closed. Anything else (a link, a file, another user's folder) is refused.
bool makePrivateDir(const std::string& dir) {
    std::error_code ec;
    fs::create_directories(fs::path(dir).parent_path(), ec);
    ::mkdir(dir.c_str(), 0700);
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid())
        return false;
    if ((st.st_mode & 0077) != 0 && ::chmod(dir.c_str(), 0700) != 0) return false;
    return isPrivateDir(dir);
}

std::string cacheRunDir(const std::map<std::string, std::string>& env) {
    return xdg(env, "XDG_CACHE_HOME", home(env) + "/.cache") + "/zavren/run";
}

}  // namespace

Paths Paths::fromEnvironment(const std::map<std::string, std::string>& env) {
    const std::string h = home(env);
    Paths p;
    const std::string data = xdg(env, "XDG_DATA_HOME", h + "/.local/share");
    const std::string config = xdg(env, "XDG_CONFIG_HOME", h + "/.config");
    const std::string state = xdg(env, "XDG_STATE_HOME", h + "/.local/state");
    const std::string cache = xdg(env, "XDG_CACHE_HOME", h + "/.cache");
    p.engineRoot = data + "/zavren/engine";
    p.configDir = config + "/zavren";
    p.termsFile = p.configDir + "/terms.txt";
    p.autostartFile = config + "/autostart/zavren.desktop";
    p.logDir = state + "/zavren";
    p.engineLog = p.logDir + "/server.log";
    std::string runtime = xdg(env, "XDG_RUNTIME_DIR", "");
    p.runtimeDir = runtime.empty() ? cache + "/zavren/run" : runtime;
    p.wav = p.runtimeDir + "/zavren.wav";
    return p;
}

Paths Paths::under(const std::string& root) {
    std::map<std::string, std::string> env{{"HOME", root},
                                           {"XDG_DATA_HOME", root + "/data"},
                                           {"XDG_CONFIG_HOME", root + "/config"},
                                           {"XDG_STATE_HOME", root + "/state"},
                                           {"XDG_CACHE_HOME", root + "/cache"},
                                           {"XDG_RUNTIME_DIR", root + "/run"}};
    return fromEnvironment(env);
}

std::string programRuntimeDir(const Paths& paths, const std::map<std::string, std::string>& env) {
    // A missing folder is one the program would create private.
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(paths.runtimeDir, ec)) || isPrivateDir(paths.runtimeDir))
        return paths.runtimeDir;
    return cacheRunDir(env);
}

bool ensurePrivateRuntimeDir(Paths& paths, const std::map<std::string, std::string>& env) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(paths.runtimeDir, ec))) {
        fs::create_directories(fs::path(paths.runtimeDir).parent_path(), ec);
        ::mkdir(paths.runtimeDir.c_str(), 0700);
    }
    if (isPrivateDir(paths.runtimeDir)) return true;

    // One fixed folder, so the instance lock and the stale-recording cleanup see
    // what an earlier start left there.
    const std::string fallback = cacheRunDir(env);
    if (!makePrivateDir(fallback)) return false;
    paths.runtimeDir = fallback;
    paths.wav = fallback + "/zavren.wav";
    return true;
}

std::map<std::string, std::string> currentEnvironment() {
    std::map<std::string, std::string> env;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        std::string entry(*e);
        auto eq = entry.find('=');
        if (eq == std::string::npos) continue;
        env.emplace(entry.substr(0, eq), entry.substr(eq + 1));
    }
    return env;
}

}  // namespace zavren
