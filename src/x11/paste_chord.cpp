#include "x11/paste_chord.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace zavren {

namespace {

// Every terminal we know of, by either half of its WM_CLASS, lower case. The one
// list: add new terminals here.
constexpr std::string_view TERMINALS[] = {
    "alacritty",
    "blackbox",
    "com.gexperts.tilix",
    "com.mitchellh.ghostty",
    "contour",
    "cool-retro-term",
    "deepin-terminal",
    "eterm",
    "foot",
    "footclient",
    "ghostty",
    "gnome-terminal",
    "gnome-terminal-server",
    "guake",
    "hyper",
    "kgx",
    "kitty",
    "konsole",
    "lxterminal",
    "mate-terminal",
    "org.gnome.console",
    "org.gnome.ptyxis",
    "org.wezfurlong.wezterm",
    "ptyxis",
    "qterminal",
    "rio",
    "roxterm",
    "rxvt",
    "sakura",
    "st",
    "st-256color",
    "tabby",
    "terminator",
    "terminology",
    "termite",
    "tilda",
    "tilix",
    "urxvt",
    "urxvt-unicode",
    "uxterm",
    "wezterm",
    "wezterm-gui",
    "x-terminal-emulator",
    "xfce4-terminal",
    "xterm",
    "yakuake",
    "cosmic-term",
    "com.system76.cosmicterm",
    "zutty",
    "lilyterm",
    "evilvte",
    "rxvt-unicode",
};

bool isTerminal(std::string_view name) {
    if (name.empty()) return false;
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(std::begin(TERMINALS), std::end(TERMINALS), lower) != std::end(TERMINALS);
}

}  // namespace

PasteChord pasteChordFor(const WmClass& wmClass) {
    return isTerminal(wmClass.instance) || isTerminal(wmClass.className) ? PasteChord::CtrlShiftV
                                                                         : PasteChord::CtrlV;
}

WmClass parseWmClass(std::string_view raw) {
    WmClass out;
    auto nul = raw.find('\0');
    out.instance = std::string(raw.substr(0, nul));
    if (nul == std::string_view::npos) return out;
    raw.remove_prefix(nul + 1);
    out.className = std::string(raw.substr(0, raw.find('\0')));
    return out;
}

}  // namespace zavren
