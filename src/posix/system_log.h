#pragma once

#include <mutex>
#include <string>

#include "platform/log.h"

namespace zavren {

// One line to stderr and to syslog (the journal picks up both), and, when a file is
// given, a timestamped copy there for users without a journal viewer. The file is
// private (0600) and rotated at MAX_FILE_BYTES into one ".1" file.
class StderrSyslog : public SystemLog {
  public:
    static constexpr long MAX_FILE_BYTES = 1024 * 1024;

    explicit StderrSyslog(std::string file = {});
    ~StderrSyslog() override;
    StderrSyslog(const StderrSyslog&) = delete;
    StderrSyslog& operator=(const StderrSyslog&) = delete;

    void line(const std::string& text) override;

  private:
    void appendToFile(const std::string& text);
    void openFile();

    std::mutex mutex_;  // lines come from several threads; keep them whole
    std::string file_;
    int fd_ = -1;
};

}  // namespace zavren
