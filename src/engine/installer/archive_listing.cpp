#include "engine/installer/archive_listing.h"

#include <cstring>
#include <set>
#include <string_view>

namespace zavren {

namespace {

using Parts = std::vector<std::string>;

// strchr finds a NUL in every set: its terminator.
bool oneOf(const char* set, char c) {
    return c != '\0' && std::strchr(set, c) != nullptr;
}

bool isModeString(std::string_view line) {
    if (line.size() < 11 || line[10] != ' ') return false;
    if (!oneOf("-dlhcbpCDMNSV?", line[0])) return false;
    for (std::size_t i = 1; i < 10; ++i) {
        if (!oneOf("-rwxsStT", line[i])) return false;
    }
    return true;
}

// Reads a C-quoted string starting at line[pos] == '"'; advances pos past it.
std::optional<std::string> readQuoted(std::string_view line, std::size_t& pos) {
    if (pos >= line.size() || line[pos] != '"') return std::nullopt;
    std::string out;
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++pos >= line.size()) return std::nullopt;
        char e = line[pos];
        if (e >= '0' && e <= '7') {
            int value = 0;
            for (int digits = 0;
                 digits < 3 && pos < line.size() && line[pos] >= '0' && line[pos] <= '7';
                 ++digits, ++pos) {
                value = value * 8 + (line[pos] - '0');
            }
            --pos;
            out += static_cast<char>(value);
            continue;
        }
        switch (e) {
            case 'a':
                out += '\a';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'v':
                out += '\v';
                break;
            case '?':
                out += '?';
                break;
            default:
                out += e;
                break;  // \" \\ and anything tar adds later
        }
    }
    return std::nullopt;
}

Parts split(const std::string& path) {
    Parts parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (!part.empty() && part != ".") parts.push_back(part);
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

bool hasDotDot(const Parts& parts) {
    for (const auto& p : parts) {
        if (p == "..") return true;
    }
    return false;
}

}  // namespace

std::optional<std::vector<ArchiveMember>> parseTarListing(const std::string& listing) {
    std::vector<ArchiveMember> members;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        std::string_view line(listing.data() + start, end - start);
        start = end + 1;
        if (!isModeString(line)) continue;
        ArchiveMember m;
        m.type = line[0];
        std::size_t pos = line.find('"');
        if (pos == std::string_view::npos) return std::nullopt;
        auto name = readQuoted(line, pos);
        if (!name) return std::nullopt;
        m.name = *name;
        std::string_view rest = line.substr(pos);
        if (m.type == 'l' || m.type == 'h') {
            std::string_view marker = m.type == 'l' ? " -> " : " link to ";
            if (rest.substr(0, marker.size()) != marker) return std::nullopt;
            pos += marker.size();
            auto target = readQuoted(line, pos);
            if (!target) return std::nullopt;
            m.linkTarget = *target;
        }
        members.push_back(std::move(m));
    }
    return members;
}

std::optional<UnsafeMember> unsafeMember(const std::vector<ArchiveMember>& members) {
    std::set<std::string> symlinks;
    for (const auto& m : members) {
        if (m.type == 'l') symlinks.insert(join(split(m.name), SIZE_MAX));
    }
    // Passing through a link that the archive itself creates could lead anywhere.
    auto throughLink = [&](const Parts& parts, std::size_t prefixes) {
        for (std::size_t n = 1; n <= prefixes && n <= parts.size(); ++n) {
            if (symlinks.count(join(parts, n))) return true;
        }
        return false;
    };
    for (const auto& m : members) {
        const std::string& name = m.name;
        if (!oneOf("-dlhC", m.type)) return UnsafeMember{name, "特殊文件"};
        if (name.empty() || name.front() == '/') return UnsafeMember{name, "绝对路径"};
        Parts parts = split(name);
        if (hasDotDot(parts)) return UnsafeMember{name, "含 .."};
        if (parts.empty()) continue;  // "./" itself
        if (throughLink(parts, parts.size() - 1)) return UnsafeMember{name, "经由符号链接"};

        if (m.type == 'h') {
            if (m.linkTarget.empty() || m.linkTarget.front() == '/')
                return UnsafeMember{name, "硬链接指向外部"};
            Parts target = split(m.linkTarget);
            if (target.empty() || hasDotDot(target) || throughLink(target, target.size()))
                return UnsafeMember{name, "硬链接指向外部"};
        } else if (m.type == 'l') {
            if (m.linkTarget.empty() || m.linkTarget.front() == '/')
                return UnsafeMember{name, "符号链接指向外部"};
            // Resolve lexically from the link's folder; every step must stay inside
            // and no step may pass through (or back out of) another link.
            Parts at(parts.begin(), parts.end() - 1);
            for (const auto& step : split(m.linkTarget)) {
                if (!at.empty() && symlinks.count(join(at, at.size())))
                    return UnsafeMember{name, "符号链接指向外部"};
                if (step == "..") {
                    if (at.empty()) return UnsafeMember{name, "符号链接指向外部"};
                    at.pop_back();
                } else {
                    at.push_back(step);
                }
            }
        }
    }
    return std::nullopt;
}

}  // namespace zavren
