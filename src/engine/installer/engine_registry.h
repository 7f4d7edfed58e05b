#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shared/types.h"

// Engines the user already has on disk, registered in the install root as folders
// of symbolic links laid out exactly like a downloaded engine, so discovery,
// resolution and supervision treat them like any other.
namespace zavren::EngineRegistry {

// One entry of a registered engine: where it sits in the engine folder and the
// user's file it points to.
struct Link {
    enum class Need { executable, code, readable, directory };  // code: a script to run
    std::string inside;                                         // relative to the engine folder
    std::string target;                                         // made absolute by add()
    Need need = Need::readable;
    std::string what;  // for messages: what the user gave
};

std::vector<Link> llamaLinks(const std::string& server, const std::string& model,
                             const std::string& mmproj);
// `models` (optional) becomes the engine's HF_HOME.
std::vector<Link> pythonLinks(const std::string& python, const std::string& script,
                              const std::string& models = "");

// Why `name` cannot follow "engine-" in a folder name; nullopt when it can.
std::optional<std::string> nameProblem(std::string_view name);

// "local-YYYYMMDD-HHMMSS" in UTC: under the locator's numeric ordering it follows
// every release numbered with digits and every earlier local name.
std::string defaultName(std::chrono::system_clock::time_point now);

// Why a link target is unusable; nullopt when it is fine.
std::optional<std::string> targetProblem(const Link& link);

struct Result {
    enum class Status { done, refused, failed };  // refused: the user's input is at fault
    Status status = Status::done;
    std::string text;  // done: the engine folder; otherwise the reason
};

// Creates root/engine-NAME holding `links`. Every target is checked first, then
// the folder is built under a hidden temporary name and renamed into place, so a
// half-made engine is never seen and an existing engine is never replaced.
// Without a name, defaultName(now) is used (with a suffix if that one is taken).
Result add(const std::string& root, std::vector<Link> links, std::optional<std::string> name,
           std::chrono::system_clock::time_point now);

// After add(): why the engine in `added` is not the one that will be used, or
// nullopt when it is.
std::optional<std::string> chosenInstead(const std::string& root, const std::string& added);

// Removes root/engine-NAME: the folder and its links, never what the links point to.
Result remove(const std::string& root, const std::string& name);

struct Entry {
    std::string name;  // without "engine-"
    std::string dir;
    std::optional<EngineKind> kind;  // nullopt: not usable (a file missing or not executable)
    bool chosen = false;
    // The layout entries present: path inside the folder, link target ("" for a real file).
    std::vector<std::pair<std::string, std::string>> files;
};

// Every "engine-*" entry of root, in numeric order of names, the chosen one marked.
std::vector<Entry> list(const std::string& root);

}  // namespace zavren::EngineRegistry
