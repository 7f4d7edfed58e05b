#pragma once

#include <string>
#include <vector>

#include "platform/input.h"

namespace zavren {

// How to paste into one application.
struct PasteChord {
    PasteKeys keys = PasteKeys::ctrlV;
    // A terminal runs what a newline ends: the text goes in as one line.
    bool terminal = false;
    // The keys paste the PRIMARY selection, so the transcript must be there too.
    bool primary = false;
    // Nothing we can type pastes here: the text is left for the user.
    bool byHand = false;
    bool operator==(const PasteChord&) const = default;
};

// The chord for the focused application, by any of its names (WM_CLASS halves or
// app id, case-insensitive, whole names): Ctrl+V unless it is a terminal we know.
// Terminals that paste only PRIMARY from the keyboard are left to paste by hand
// when the PRIMARY selection cannot be set: any other chord would type a control
// character into them.
PasteChord pasteChordFor(const std::vector<std::string>& appNames, bool primaryAvailable);

}  // namespace zavren
