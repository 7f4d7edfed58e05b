#pragma once

#include <string>
#include <string_view>

namespace zavren {

// The two halves of an X window's WM_CLASS property.
struct WmClass {
    std::string instance;
    std::string className;
};

// WM_CLASS as stored on the window: instance and class, each NUL-terminated.
WmClass parseWmClass(std::string_view raw);

}  // namespace zavren
