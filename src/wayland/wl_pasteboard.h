#pragma once

#include "platform/pasteboard.h"

namespace zavren {

// The Wayland clipboard through wl-clipboard: Qt can set it only while one of
// our windows has the keyboard focus, and the paste happens while another has.
// Only plain text is carried; other types have no place in one wl-copy offer.
class WlPasteboard : public Pasteboard {
  public:
    std::optional<std::string> string() override;
    void clear() override;
    void setString(const std::string& value, const std::string& type) override;
};

}  // namespace zavren
