#pragma once

#include <string>

#include "platform/lifecycle.h"

namespace zavren {

// An advisory lock on a file in the private runtime folder. The kernel drops it
// when the holder dies, so a crashed instance never blocks the next one; the file
// holds the holder's process id for the refusal message.
class FileInstanceLock : public InstanceLock {
  public:
    explicit FileInstanceLock(std::string path) : path_(std::move(path)) {}
    ~FileInstanceLock() override;
    FileInstanceLock(const FileInstanceLock&) = delete;
    FileInstanceLock& operator=(const FileInstanceLock&) = delete;

    Result acquire() override;

  private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace zavren
