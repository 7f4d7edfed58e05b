#pragma once

#include <string>
#include <string_view>

namespace zavren {

// The two halves of an X window's WM_CLASS property.
struct WmClass {
    std::string instance;
    std::string className;
};

// Terminal emulators take Ctrl+V as a control character and paste on Ctrl+Shift+V.
enum class PasteChord { CtrlV, CtrlShiftV };

// Ctrl+Shift+V when either half of WM_CLASS names a known terminal emulator
// (case-insensitive, whole name), Ctrl+V otherwise.
PasteChord pasteChordFor(const WmClass& wmClass);

// WM_CLASS as stored on the window: instance and class, each NUL-terminated.
WmClass parseWmClass(std::string_view raw);

}  // namespace zavren
