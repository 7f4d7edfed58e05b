#include "posix/system_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>

namespace zavren {

StderrSyslog::StderrSyslog(std::string file) : file_(std::move(file)) {
    ::openlog("zavren", LOG_PID, LOG_USER);
    if (!file_.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(file_).parent_path(), ec);
        openFile();
    }
}

StderrSyslog::~StderrSyslog() {
    if (fd_ >= 0) ::close(fd_);
    ::closelog();
}

void StderrSyslog::openFile() {
    // No symlink to follow: another user could point it at our files.
    fd_ = ::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    // An older version may have made it readable by others.
    if (fd_ >= 0) ::fchmod(fd_, 0600);
}

void StderrSyslog::line(const std::string& text) {
    std::lock_guard lock(mutex_);
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    ::syslog(LOG_NOTICE, "%s", text.c_str());
    if (fd_ >= 0) appendToFile(text);
}

void StderrSyslog::appendToFile(const std::string& text) {
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && st.st_size >= MAX_FILE_BYTES) {
        ::close(fd_);
        std::error_code ec;
        std::filesystem::rename(file_, file_ + ".1", ec);
        openFile();
        if (fd_ < 0) return;
    }
    char stamp[32] = "";
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
    std::string out = stamp + text + "\n";
    // Best effort: a full disk must not stop the program.
    if (::write(fd_, out.data(), out.size()) < 0) return;
}

}  // namespace zavren
