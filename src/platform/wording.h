#pragma once

#include <array>
#include <string>
#include <string_view>

#include "platform/hotkey_key.h"

namespace zavren {

// The words for the keys and permissions of the platform in front of the user.
// Every text that names a key, the paste chord or the paste permission is built
// from these, so a Linux user never reads a Mac key and the other way round.
struct Wording {
    std::array<std::string_view, HOTKEY_KEYS.size()> keyNames;  // as a key cap: "右 Alt"
    std::array<std::string_view, HOTKEY_KEYS.size()> keyWords;  // in a sentence
    std::string_view pasteChord;
    std::string_view pasteAccess;         // what typing the paste needs, as a step names it
    std::string_view pasteAccessRow;      // its first-run line
    std::string_view pasteAccessMissing;  // the menu row while it is missing
    std::string_view pasteByHandSuffix;   // after the paste-by-hand hint
    std::string_view pasteAccessButton;   // the first-run button next to its line
    // What automatic pasting needs, where no settings page can grant it; empty
    // where the desktop has such a page.
    std::string_view pasteAccessHelp;

    std::string keyName(HotkeyKey key) const;
    std::string keyWord(HotkeyKey key) const;
    // "按住右 Alt", "按住 F13": the key as a sentence begins with it.
    std::string hold(HotkeyKey key, bool inSentence = false) const;
    std::string pasteByHandHint() const;
};

const Wording& linuxWording();
const Wording& macWording();
// The one this build was made for.
const Wording& platformWording();

class Desktop;
// Opens the page that grants the paste permission, or says what it needs where
// there is no such page.
void showPasteAccess(Desktop& desktop, const Wording& wording);

// How to make the key reach the program where it cannot watch the keyboard
// (Wayland): the input group, or a compositor binding for this key.
inline constexpr std::string_view HOTKEY_SETUP_ROW = "⚠  按键尚未接通 — 点此查看接通方法";
std::string hotkeySetupHelp(HotkeyKey key);
// Which way the key reaches the program and how to change it; empty where nothing
// needs saying.
std::string hotkeyViaText(HotkeyVia via);

}  // namespace zavren
