#include "app/autostart.h"

#include <filesystem>
#include <map>
#include <sstream>

#include "shared/files.h"

namespace zavren::Autostart {

namespace fs = std::filesystem;

namespace {

// Ours are a few hundred bytes; a bigger file is not read into memory at all.
constexpr std::uintmax_t MAX_ENTRY_BYTES = 64 * 1024;

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// The keys of the main group; other groups (actions) may reuse the same names.
std::map<std::string, std::string> mainGroup(const std::string& text) {
    std::map<std::string, std::string> keys;
    std::istringstream in(text);
    bool inMain = false;
    for (std::string line; std::getline(in, line);) {
        line = trim(line);
        // Comments need no skipping: "#Hidden" is no key we look for.
        if (line.empty()) continue;
        if (line.front() == '[') {
            inMain = line == "[Desktop Entry]";
            continue;
        }
        const auto eq = line.find('=');
        if (inMain && eq != std::string::npos)
            keys.emplace(trim(line.substr(0, eq)), trim(line.substr(eq + 1)));
    }
    return keys;
}

// One argument of the Exec key: quoted so any path survives, then escaped once more
// because the whole value is a string with its own backslash escapes.
std::string execArgument(const std::string& program) {
    std::string quoted = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$') quoted += "\\\\";
        if (c == '\\') quoted += "\\\\\\";
        if (c == '%') quoted += '%';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

Status status(const std::string& file) {
    std::error_code ec;
    const auto kind = fs::symlink_status(file, ec);
    if (!fs::exists(kind)) return {};
    // Unreadable, a link or no entry we could have written: someone else's, and
    // the desktop may well run it.
    const bool plain =
        kind.type() == fs::file_type::regular && fs::file_size(file, ec) <= MAX_ENTRY_BYTES && !ec;
    const auto text = plain ? files::readNoFollow(file) : std::nullopt;
    if (!text) return {Owner::foreign, true};
    const auto keys = mainGroup(*text);
    const auto value = [&keys](const std::string& key) {
        auto it = keys.find(key);
        return it == keys.end() ? std::string() : it->second;
    };
    const bool enabled = value("Hidden") != "true" && value("X-GNOME-Autostart-enabled") != "false";
    return {value(MARKER_KEY) == "true" ? Owner::ours : Owner::foreign, enabled};
}

std::string entry(const std::string& program) {
    if (program.empty() || program.front() != '/') return {};
    for (char c : program) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return {};
    }
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=ZAVREN\n"
           "Comment=按住说话,松开后文字落到光标处\n"
           "Exec=" +
           execArgument(program) +
           "\n"
           "Icon=zavren\n"
           "Terminal=false\n" +
           MARKER_KEY + "=true\n";
}

Result toggle(const std::string& file, const std::string& program) {
    const Status now = status(file);
    if (now.owner == Owner::foreign) return Result::notOurs;
    if (now.owner == Owner::ours && now.enabled) {
        std::error_code ec;
        fs::remove(file, ec);
        return ec ? Result::failed : Result::off;
    }
    const std::string text = entry(program);
    if (text.empty()) return Result::failed;
    std::error_code ec;
    fs::create_directories(fs::path(file).parent_path(), ec);
    return files::writeAtomic(file, text, 0644) ? Result::on : Result::failed;
}

}  // namespace zavren::Autostart
