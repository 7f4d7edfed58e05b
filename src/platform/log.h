#pragma once

#include <string>

namespace zavren {

// One diagnostic line to the system log (lines begin with "ZAVREN: ").
class SystemLog {
  public:
    virtual ~SystemLog() = default;
    virtual void line(const std::string& text) = 0;
};

}  // namespace zavren
