#include "wayland/bounded_io.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace zavren {

std::optional<std::string> readBounded(int fd, std::size_t maxBytes,
                                       std::chrono::milliseconds timeout, bool* timedOut) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    std::string out;
    char buf[65536];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            if (timedOut) *timedOut = true;
            return std::nullopt;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) return std::nullopt;
        if (ready <= 0) continue;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0) return out;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return std::nullopt;
        }
        if (out.size() + static_cast<std::size_t>(n) > maxBytes) return std::nullopt;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

PendingWrite::PendingWrite(int fd, std::shared_ptr<const std::string> bytes,
                           Clock::time_point deadline)
    : fd_(fd), bytes_(std::move(bytes)), deadline_(deadline) {
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

PendingWrite::~PendingWrite() {
    if (fd_ >= 0) ::close(fd_);
}

bool PendingWrite::pump(Clock::time_point now) {
    while (written_ < bytes_->size()) {
        const ssize_t n = ::write(fd_, bytes_->data() + written_, bytes_->size() - written_);
        if (n > 0) {
            written_ += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return now >= deadline_;
        if (n < 0 && errno == EPIPE) {
            // Blocked here, the signal waits on this thread: take it back.
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec zero{};
            ::sigtimedwait(&pipe, nullptr, &zero);
        }
        return true;
    }
    return true;
}

void blockBrokenPipeSignal() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

}  // namespace zavren
