#include "request_log.h"

#include <chrono>

namespace zavren::fake {

RequestLog::RequestLog(const std::string& path) : path_(path) {
    if (!path.empty()) file_ = std::fopen(path.c_str(), "a");
}

RequestLog::~RequestLog() {
    if (file_) std::fclose(file_);
}

void RequestLog::write(nlohmann::json line) {
    if (!file_) return;
    auto now = std::chrono::system_clock::now().time_since_epoch();
    line["time"] = std::chrono::duration<double>(now).count();
    // Replacement keeps a stray byte in a header from making the line unreadable.
    std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::lock_guard lock(mutex_);
    std::fputs(text.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

}  // namespace zavren::fake
