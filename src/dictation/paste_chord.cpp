#include "dictation/paste_chord.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <string_view>

namespace zavren {

namespace {

struct Terminal {
    std::string_view name;  // either half of WM_CLASS or the app id, lower case
    PasteKeys keys;
};

constexpr PasteKeys CLIPBOARD_CHORD = PasteKeys::ctrlShiftV;
// No clipboard paste by default; Shift+Insert pastes PRIMARY.
constexpr PasteKeys PRIMARY_CHORD = PasteKeys::shiftInsert;

// Every terminal we know of, with the default key that pastes. The one list: add
// new terminals here.
constexpr Terminal TERMINALS[] = {
    {"alacritty", CLIPBOARD_CHORD},
    {"blackbox", CLIPBOARD_CHORD},
    {"com.gexperts.tilix", CLIPBOARD_CHORD},
    {"com.mitchellh.ghostty", CLIPBOARD_CHORD},
    {"com.system76.cosmicterm", CLIPBOARD_CHORD},
    {"contour", CLIPBOARD_CHORD},
    {"cool-retro-term", CLIPBOARD_CHORD},
    {"cosmic-term", CLIPBOARD_CHORD},
    {"deepin-terminal", CLIPBOARD_CHORD},
    {"eterm", PRIMARY_CHORD},
    {"evilvte", CLIPBOARD_CHORD},
    {"foot", CLIPBOARD_CHORD},
    {"footclient", CLIPBOARD_CHORD},
    {"ghostty", CLIPBOARD_CHORD},
    {"gnome-terminal", CLIPBOARD_CHORD},
    {"gnome-terminal-server", CLIPBOARD_CHORD},
    {"guake", CLIPBOARD_CHORD},
    {"hyper", CLIPBOARD_CHORD},
    {"kgx", CLIPBOARD_CHORD},
    {"kitty", CLIPBOARD_CHORD},
    {"konsole", CLIPBOARD_CHORD},
    {"lilyterm", CLIPBOARD_CHORD},
    {"lxterminal", CLIPBOARD_CHORD},
    {"mate-terminal", CLIPBOARD_CHORD},
    {"org.gnome.console", CLIPBOARD_CHORD},
    {"org.gnome.ptyxis", CLIPBOARD_CHORD},
    {"org.wezfurlong.wezterm", CLIPBOARD_CHORD},
    {"ptyxis", CLIPBOARD_CHORD},
    {"qterminal", CLIPBOARD_CHORD},
    {"rio", CLIPBOARD_CHORD},
    {"roxterm", CLIPBOARD_CHORD},
    {"rxvt", PRIMARY_CHORD},
    {"rxvt-unicode", PRIMARY_CHORD},
    {"sakura", CLIPBOARD_CHORD},
    {"st", CLIPBOARD_CHORD},
    {"st-256color", CLIPBOARD_CHORD},
    {"tabby", CLIPBOARD_CHORD},
    {"terminator", CLIPBOARD_CHORD},
    {"terminology", CLIPBOARD_CHORD},
    {"termite", CLIPBOARD_CHORD},
    {"tilda", CLIPBOARD_CHORD},
    {"tilix", CLIPBOARD_CHORD},
    {"urxvt", PRIMARY_CHORD},
    {"urxvt-unicode", PRIMARY_CHORD},
    {"uxterm", PRIMARY_CHORD},
    {"wezterm", CLIPBOARD_CHORD},
    {"wezterm-gui", CLIPBOARD_CHORD},
    {"x-terminal-emulator", CLIPBOARD_CHORD},
    {"xfce4-terminal", CLIPBOARD_CHORD},
    {"xterm", PRIMARY_CHORD},
    {"yakuake", CLIPBOARD_CHORD},
    {"zutty", CLIPBOARD_CHORD},
};

const Terminal* terminalNamed(std::string_view name) {
    if (name.empty()) return nullptr;
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    auto it = std::find_if(std::begin(TERMINALS), std::end(TERMINALS),
                           [&](const Terminal& t) { return t.name == lower; });
    return it == std::end(TERMINALS) ? nullptr : &*it;
}

}  // namespace

PasteChord pasteChordFor(const std::vector<std::string>& appNames, bool primaryAvailable) {
    for (const auto& name : appNames) {
        const Terminal* t = terminalNamed(name);
        if (!t) continue;
        if (t->keys == PRIMARY_CHORD && !primaryAvailable)
            return {.keys = CLIPBOARD_CHORD, .terminal = true, .byHand = true};
        return {.keys = t->keys, .terminal = true, .primary = t->keys == PRIMARY_CHORD};
    }
    return {};
}

}  // namespace zavren
