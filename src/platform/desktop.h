#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zavren {

struct Alert {
    std::string message;
    std::string informative;
    std::vector<std::string> buttons;  // the first is the default
};

// The application the desktop opens a kind of file with.
struct DesktopHandler {
    std::string id;     // its desktop entry's file name, e.g. "org.gnome.TextEditor.desktop"
    std::string entry;  // that entry's text; empty when it could not be found or read
};

// Nothing here opens a web address: the program never starts a browser or mail
// program (offerAddress hands the user the address instead).
class Desktop {
  public:
    virtual ~Desktop() = default;
    // Opens a local file in the user's default application. `opened` gets false,
    // later on the main thread, when no application could be started for it.
    virtual void openFile(const std::string& path, std::function<void(bool opened)> opened) = 0;
    // The default application for files of mimeType; nothing when none is set or
    // the desktop cannot say. Answered later on the main thread.
    virtual void defaultHandler(const std::string& mimeType,
                                std::function<void(std::optional<DesktopHandler>)> answer) = 0;
    // Brings the program in front of the application the user was working in.
    virtual void activate() = 0;
    // Shows the alert and returns at once: a nested event loop here would run any
    // queued task inside the caller's. `answered` gets the chosen button's index,
    // or -1 for any other end, later on the main thread.
    virtual void showAlert(const Alert& alert, std::function<void(int chosen)> answered) = 0;
    // Opens the settings where the user grants input-synthesis permission, where
    // the desktop has such a page; does nothing otherwise.
    virtual void openAccessibilitySettings() = 0;
};

}  // namespace zavren
