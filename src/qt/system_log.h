#pragma once

#include "platform/log.h"

namespace zavren {

// One line to stderr and to syslog (the journal picks up both).
class StderrSyslog : public SystemLog {
  public:
    StderrSyslog();
    ~StderrSyslog() override;
    void line(const std::string& text) override;
};

}  // namespace zavren
