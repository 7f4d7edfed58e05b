#include "dictation/recording_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zavren {

RecordingFile::RecordingFile(const std::string& path)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW)) {
    struct stat st {};
    if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd_);
        fd_ = -1;
    }
}

RecordingFile::~RecordingFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::optional<std::int64_t> RecordingFile::size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return std::nullopt;
    return static_cast<std::int64_t>(st.st_size);
}

std::optional<std::string> RecordingFile::readAt(std::int64_t offset, std::int64_t length) const {
    if (fd_ < 0 || offset < 0 || length < 0) return std::nullopt;
    std::string out(static_cast<std::size_t>(length), '\0');
    std::size_t got = 0;
    while (got < out.size()) {
        const ssize_t n = ::pread(fd_, out.data() + got, out.size() - got,
                                  static_cast<off_t>(offset) + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    return out;
}

}  // namespace zavren
