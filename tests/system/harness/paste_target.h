#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <optional>
#include <string>

#include "x11/x_display.h"

namespace zavren {

// A small X window that behaves like an editor: it owns the clipboard with a text
// (and optionally a PNG image) and, on Ctrl+V with or without Shift, asks for the
// clipboard text after readDelay, as a busy application would, and records what it
// got with the modifier state of the key press. Events are handled only while a
// wait call pumps them.
class PasteTarget {
  public:
    struct Paste {
        std::string text;
        unsigned int state = 0;
    };
    using ms = std::chrono::milliseconds;

    // focusChild: give the keyboard focus to a child window, as toolkits often do.
    PasteTarget(const std::string& instance, const std::string& className, bool focusChild,
                ms readDelay = ms(0));
    ~PasteTarget();

    // Maps the window and waits until it holds the keyboard focus.
    bool show(ms timeout);
    bool ownClipboard(const std::string& text, const std::string& png = "");
    std::optional<Paste> waitForPaste(ms timeout);

  private:
    template <typename Done>
    bool pump(ms timeout, Done done);
    void handle(XEvent& ev);
    void answer(const XSelectionRequestEvent& req);

    DisplayPtr display_ = openDisplay();
    Display* d_ = display_.get();
    Window window_ = None, focus_ = None;
    Atom clipboard_, utf8_, property_, targets_, png_;
    std::string text_, png_bytes_;
    ms readDelay_;
    std::optional<std::chrono::steady_clock::time_point> readAt_;
    unsigned int keyState_ = 0;
    std::optional<Paste> paste_;
};

}  // namespace zavren
