#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/desktop.h"

namespace zavren {

// Written when the terms file does not exist yet (380 bytes of UTF-8).
inline constexpr std::string_view TERMS_TEMPLATE =
    "# ZAVREN 术语词典 — 每行一个词(或空格分隔)\n"
    "# 放你常说但容易被认错的词:人名、项目名、命令、行业术语。\n"
    "# 保存即生效(旧版引擎需点菜单「重载术语词典(重启引擎)」)。\n"
    "# 示例:\n"
    "# kubectl embedding Anthropic 泽文\n"
    "\n"
    "# 常用组合词(帮引擎保住拼写与连字符,不需要可删)\n"
    "USB-C Wi-Fi JavaScript TypeScript\n";

// Terms go into every request and into the engine's environment, where one
// variable may not pass 128 KiB: the file is read up to here, about 3,000 terms.
inline constexpr std::size_t TERMS_MAX_BYTES = 32 * 1024;

// The user's terms as one line: file order, single ASCII spaces, no leading or
// trailing space. Reads the file at every call; empty when the file is missing,
// unreadable, not a regular file or not valid UTF-8. Of a larger file, the terms
// that lie wholly within the first TERMS_MAX_BYTES.
std::string loadUserTerms(const std::string& termsFile);

// What the user must hear about the terms file (too large, not a file), or nothing.
std::optional<std::string> termsFileProblem(const std::string& termsFile);

// Whether a desktop entry describes a web browser: a browser would show the file
// read-only and load its start page from the network.
bool isWebBrowser(const std::string& entry);

// Why the terms file was not opened.
enum class TermsNotOpened { noApplication, browser };

// Creates the folder and, only when no file is there, the template; then opens the
// file with the desktop's default application for text, unless there is none or it
// is a web browser (or its entry cannot be read to tell). Failures to create are
// silent: the desktop gets the request anyway. notOpened gets the file's absolute
// path when it was not opened.
void openTerms(const std::string& termsFile, Desktop& desktop,
               std::function<void(const std::string& path, TermsNotOpened why)> notOpened = {});

}  // namespace zavren
