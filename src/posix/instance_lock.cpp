#include "posix/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <optional>
#include <thread>

namespace zavren {

namespace {

std::optional<int> readPid(int fd) {
    char buf[32] = {};
    ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    if (n <= 0) return std::nullopt;
    int pid = 0;
    const char* end = buf + n;
    auto [ptr, ec] = std::from_chars(buf, end, pid);
    if (ec != std::errc() || pid <= 0) return std::nullopt;
    return pid;
}

}  // namespace

FileInstanceLock::~FileInstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

InstanceLock::Result FileInstanceLock::acquire() {
    if (fd_ >= 0) return {true, {}};
    // Close-on-exec: an engine child must not keep the lock alive after we exit.
    int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        // Without a usable lock file the rule cannot be enforced; running beats refusing.
        return {true, {}};
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(fd, 0) == 0) {
            [[maybe_unused]] ssize_t n = ::pwrite(fd, pid.data(), pid.size(), 0);
        }
        fd_ = fd;
        return {true, {}};
    }
    const bool busy = errno == EWOULDBLOCK;
    Result result;
    result.acquired = !busy;
    if (busy) {
        // The holder writes its id right after locking; give it a moment.
        for (int attempt = 0; attempt < 50; ++attempt) {
            if (auto pid = readPid(fd)) {
                result.others.push_back(*pid);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    ::close(fd);
    return result;
}

}  // namespace zavren
