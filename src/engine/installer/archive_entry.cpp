#include "engine/installer/archive_entry.h"

#include <vector>

namespace zavren {

namespace {

using Parts = std::vector<std::string>;

Parts split(const std::string& path) {
    Parts parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (!part.empty() && part != ".") parts.push_back(std::move(part));
        start = end + 1;
    }
    return parts;
}

std::string join(const Parts& parts, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count && i < parts.size(); ++i) {
        if (i) out += '/';
        out += parts[i];
    }
    return out;
}

}  // namespace

std::optional<std::string> entryRefusal(const ArchiveEntry& entry) {
    using T = ArchiveEntry::Type;
    if (entry.type == T::hardlink) return "硬链接";
    if (entry.type == T::other) return "特殊文件";
    if (entry.size < 0) return "大小无效";
    const std::string& name = entry.name;
    if (name.empty() || name.front() == '/') return "绝对路径";
    if (name.find('\0') != std::string::npos) return "名称无效";
    Parts parts = split(name);
    for (const auto& p : parts) {
        if (p == "..") return "含 ..";
    }
    if (entry.type != T::symlink) return std::nullopt;
    const std::string& target = entry.linkTarget;
    if (target.empty() || target.front() == '/' || parts.size() < 2) return "符号链接指向外部";
    // Only leading ".." steps: they climb through real folders, so reading the
    // target as text is what the kernel will do. Past a name, a step could climb
    // out of a folder reached through another link.
    Parts at(parts.begin(), parts.end() - 1);
    bool descending = false;
    for (const auto& step : split(target)) {
        if (step == "..") {
            if (descending || at.size() <= 1) return "符号链接指向外部";
            at.pop_back();
        } else {
            descending = true;
            at.push_back(step);
        }
    }
    return std::nullopt;
}

std::optional<std::string> ArchiveEntryChecker::check(const ArchiveEntry& entry) {
    if (auto why = entryRefusal(entry)) return why;
    Parts parts = split(entry.name);
    if (parts.empty()) return std::nullopt;  // "./" itself
    for (std::size_t n = 1; n < parts.size(); ++n) {
        if (links_.count(join(parts, n))) return "经由符号链接";
    }
    const std::string key = join(parts, parts.size());
    // Folders may be named again (tar lists them before and after); anything else
    // given twice would replace what was checked.
    if (entry.type == ArchiveEntry::Type::directory) {
        if (names_.count(key)) return "重复条目";
        dirs_.insert(key);
    } else if (dirs_.count(key) || !names_.insert(key).second) {
        return "重复条目";
    }
    if (entry.type == ArchiveEntry::Type::symlink) links_.insert(key);
    return std::nullopt;
}

}  // namespace zavren
