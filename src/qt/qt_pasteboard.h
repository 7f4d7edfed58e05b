#pragma once

#include <map>

#include "platform/pasteboard.h"

namespace zavren {

// The CLIPBOARD selection. Transcripts are marked as secrets so clipboard managers
// that honour the hint do not keep them in their history.
class QtPasteboard : public Pasteboard {
  public:
    static constexpr const char* PASSWORD_HINT_TYPE = "x-kde-passwordManagerHint";

    std::optional<std::string> string() override;
    void clear() override;
    void setString(const std::string& value, const std::string& type) override;

  private:
    void publish();
    std::map<std::string, std::string> values_;  // type -> value since clear()
};

}  // namespace zavren
