#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <optional>
#include <string>

#include "x11/x_display.h"

namespace zavren {

// A small X window that behaves like an editor: it owns the clipboard with a given
// text (and optionally a PNG image) and, on Ctrl+V (with or without Shift), asks
// for the clipboard after readDelay, as a busy application would, and records what
// it got and the modifier state of the key press. Events are handled only while a
// wait call pumps them.
class PasteTarget {
  public:
    struct Paste {
        std::string text;
        unsigned int state = 0;  // modifier mask of the V key press
    };

    // focusChild: give the keyboard focus to a child window, as toolkits often do.
    PasteTarget(const std::string& instance, const std::string& className, bool focusChild,
                std::chrono::milliseconds readDelay = std::chrono::milliseconds(0));
    ~PasteTarget();

    // Maps the window and waits until it holds the keyboard focus.
    bool show(std::chrono::milliseconds timeout);
    bool ownClipboard(const std::string& text, const std::string& png = "");
    std::optional<Paste> waitForPaste(std::chrono::milliseconds timeout);

  private:
    void handle(XEvent& ev);

    DisplayPtr display_;
    Window window_ = None;
    Window child_ = None;
    Atom clipboard_, utf8_, property_, targets_, png_;
    std::string clipText_, clipPng_;
    std::chrono::milliseconds readDelay_;
    std::optional<std::chrono::steady_clock::time_point> readAt_;
    std::optional<unsigned int> pendingState_;
    std::optional<Paste> paste_;
};

}  // namespace zavren
