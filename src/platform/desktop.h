#pragma once

#include <string>
#include <vector>

namespace zavren {

struct Alert {
    std::string message;
    std::string informative;
    std::vector<std::string> buttons;  // the first is the default
};

class Desktop {
  public:
    virtual ~Desktop() = default;
    virtual void openUrl(const std::string& url) = 0;
    // Brings the program in front of the application the user was working in.
    virtual void activate() = 0;
    // Runs the alert modally; the index of the chosen button, -1 for any other end.
    virtual int runAlert(const Alert& alert) = 0;
    // Opens the settings where the user grants input-synthesis permission, where
    // the desktop has such a page; does nothing otherwise.
    virtual void openAccessibilitySettings() = 0;
};

}  // namespace zavren
