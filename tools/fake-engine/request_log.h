#pragma once

#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

namespace zavren::fake {

// Appends one JSON object per line and flushes it at once, so a test can read
// the file while the engine runs. Without a path it writes nothing.
class RequestLog {
  public:
    explicit RequestLog(const std::string& path);
    ~RequestLog();
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;

    bool ok() const { return path_.empty() || file_ != nullptr; }
    void write(nlohmann::json line);

  private:
    std::string path_;
    std::FILE* file_ = nullptr;
    std::mutex mutex_;
};

}  // namespace zavren::fake
