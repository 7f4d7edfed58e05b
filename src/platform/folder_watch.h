#pragma once

#include <functional>
#include <memory>
#include <string>

namespace zavren {

// Watching stops when the handle is destroyed.
class FolderWatch {
  public:
    virtual ~FolderWatch() = default;
};

class FolderWatcher {
  public:
    virtual ~FolderWatcher() = default;
    // onChange runs on a background thread whenever an entry directly inside dir is
    // created, removed or renamed (also dir itself). Null when dir cannot be watched.
    virtual std::unique_ptr<FolderWatch> watch(const std::string& dir,
                                               std::function<void()> onChange) = 0;
};

}  // namespace zavren
