#pragma once

#include <map>
#include <string>

namespace zavren {

// Every file location the program uses. Tests build one under a temporary folder.
struct Paths {
    std::string engineRoot;  // installed engines, the partial download, the scratch folder
    std::string configDir;   // terms file and user defaults
    std::string termsFile;
    std::string autostartFile;  // the login entry, in the desktop's autostart folder
    std::string logDir;
    std::string engineLog;
    std::string runtimeDir;  // private 0700 folder: the recording and the instance lock
    std::string wav;

    // XDG locations from the given environment (HOME, XDG_DATA_HOME, XDG_CONFIG_HOME,
    // XDG_STATE_HOME, XDG_RUNTIME_DIR). The runtime folder is only named here;
    // ensurePrivateRuntimeDir() makes it safe to use.
    static Paths fromEnvironment(const std::map<std::string, std::string>& env);
    // All locations below one folder, laid out like the XDG ones.
    static Paths under(const std::string& root);
};

// Makes sure paths.runtimeDir is a directory owned by this user with mode 0700,
// creating it when missing. When it is not (shared, foreign, a symlink), switches
// paths.runtimeDir and paths.wav to the fixed folder zavren/run under the user's
// cache folder. Returns false when no private folder can be had.
bool ensurePrivateRuntimeDir(Paths& paths, const std::map<std::string, std::string>& env);

// The runtime folder the program settles on, found without creating or changing
// anything: for clients that must reach what the program put there.
std::string programRuntimeDir(const Paths& paths, const std::map<std::string, std::string>& env);

// The process environment as a map.
std::map<std::string, std::string> currentEnvironment();

}  // namespace zavren
