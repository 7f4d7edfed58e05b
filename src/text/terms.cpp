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

void openTerms(const std::string& termsFile, Desktop& desktop,
               std::function<void(const std::string& path)> notOpened) {
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
    desktop.openFile(shown, [shown, notOpened = std::move(notOpened)](bool opened) {
        if (!opened && notOpened) notOpened(shown);
    });
}

}  // namespace zavren
