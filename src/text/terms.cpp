#include "text/terms.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "shared/files.h"

namespace zavren {

namespace {

bool validUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(s.data());
    const auto n = static_cast<std::int32_t>(s.size());
    std::int32_t i = 0;
    while (i < n) {
        UChar32 c;
        U8_NEXT(p, i, n, c);
        if (c < 0) return false;
    }
    return true;
}

// Whether the piece's first non-blank character is '#'. Blanks are horizontal
// white space (tab and the space separators), never line breaks.
bool isComment(std::string_view piece) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(piece.data());
    const auto n = static_cast<std::int32_t>(piece.size());
    std::int32_t i = 0;
    while (i < n) {
        UChar32 c;
        U8_NEXT(p, i, n, c);
        if (!u_isblank(c)) return c == '#';
    }
    return false;
}

}  // namespace

std::optional<std::string> termsFileProblem(const std::string& termsFile) {
    switch (files::checkUserFile(termsFile, TERMS_MAX_BYTES)) {
        case files::UserFile::tooLarge:
            return "术语词典超过 " + std::to_string(TERMS_MAX_BYTES / 1024) + " KB,只使用了前 " +
                   std::to_string(TERMS_MAX_BYTES / 1024) + " KB 中的词";
        case files::UserFile::notRegular:
            return std::string("术语词典不是普通文件,已忽略");
        default:
            return std::nullopt;
    }
}

std::string loadUserTerms(const std::string& termsFile) {
    auto read = files::readCapped(termsFile, TERMS_MAX_BYTES);
    if (!read) return {};
    std::string* text = &read->bytes;
    // A term cut by the cap is dropped whole.
    if (!read->complete) text->resize(text->find_last_of("\n ,") + 1);
    if (!validUtf8(*text)) return {};

    // A line feed splits, except the LF of a CR LF pair: that pair is one
    // character which is not a line feed.
    std::vector<std::string_view> kept;
    std::string_view all(*text);
    std::size_t start = 0;
    for (std::size_t i = 0; i <= all.size(); ++i) {
        const bool split = i == all.size() || (all[i] == '\n' && !(i > 0 && all[i - 1] == '\r'));
        if (!split) continue;
        std::string_view piece = all.substr(start, i - start);
        start = i + 1;
        if (!piece.empty() && !isComment(piece)) kept.push_back(piece);
    }

    std::string out;
    for (std::string_view piece : kept) {
        std::size_t b = 0;
        for (std::size_t i = 0; i <= piece.size(); ++i) {
            if (i < piece.size() && piece[i] != ' ' && piece[i] != ',') continue;
            if (i > b) {
                if (!out.empty()) out += ' ';
                out.append(piece.substr(b, i - b));
            }
            b = i + 1;
        }
    }
    return out;
}

}  // namespace zavren

namespace zavren {

namespace {

// The values of key in the [Desktop Entry] group: a ;-separated list.
std::vector<std::string> entryList(const std::string& entry, std::string_view key) {
    std::vector<std::string> values;
    bool inMain = false;
    std::size_t pos = 0;
    while (pos < entry.size()) {
        std::size_t end = entry.find('\n', pos);
        if (end == std::string::npos) end = entry.size();
        std::string_view line(entry.data() + pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.starts_with('[')) {
            inMain = line == "[Desktop Entry]";
            continue;
        }
        if (!inMain || !line.starts_with(key)) continue;
        std::string_view rest = line.substr(key.size());
        while (rest.starts_with(' ')) rest.remove_prefix(1);
        if (!rest.starts_with('=')) continue;  // a longer key, or a localised one
        rest.remove_prefix(1);
        for (std::size_t from = 0; from <= rest.size();) {
            std::size_t semi = rest.find(';', from);
            if (semi == std::string_view::npos) semi = rest.size();
            std::string_view v = rest.substr(from, semi - from);
            while (v.starts_with(' ')) v.remove_prefix(1);
            while (v.ends_with(' ')) v.remove_suffix(1);
            if (!v.empty()) values.emplace_back(v);
            from = semi + 1;
        }
    }
    return values;
}

}  // namespace

bool isWebBrowser(const std::string& entry) {
    for (const auto& c : entryList(entry, "Categories"))
        if (c == "WebBrowser") return true;
    for (const auto& m : entryList(entry, "MimeType"))
        if (m == "x-scheme-handler/http" || m == "x-scheme-handler/https") return true;
    return false;
}

void openTerms(const std::string& termsFile, Desktop& desktop,
               std::function<void(const std::string& path, TermsNotOpened why)> notOpened) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path path = fs::absolute(fs::path(termsFile), ec);
    if (ec) path = fs::path(termsFile);
    fs::create_directories(path.parent_path(), ec);
    // Anything already at the path, a dangling symlink included, is the user's:
    // it is never replaced.
    const auto st = fs::symlink_status(path, ec);
    if (!fs::exists(st)) files::writeAtomic(path.string(), std::string(TERMS_TEMPLATE));
    const std::string shown = path.lexically_normal().string();
    auto tell = [shown, notOpened](TermsNotOpened why) {
        if (notOpened) notOpened(shown, why);
    };
    Desktop* d = &desktop;
    desktop.defaultHandler("text/plain", [d, shown, tell](std::optional<DesktopHandler> handler) {
        if (!handler) return tell(TermsNotOpened::noApplication);
        // An entry that cannot be read might be a browser's: never risk it.
        if (handler->entry.empty() || isWebBrowser(handler->entry))
            return tell(TermsNotOpened::browser);
        d->openFile(shown, [tell](bool opened) {
            if (!opened) tell(TermsNotOpened::noApplication);
        });
    });
}

}  // namespace zavren
