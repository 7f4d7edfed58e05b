#include "engine/installer/partial_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace zavren {

namespace {

constexpr std::size_t SCAN_CHUNK = 4 * 1024 * 1024;

// O_NOFOLLOW and the regular-file check keep a planted link to /dev/zero or a
// FIFO from hanging the scan.
int openRegular(const std::string& path, int flags) {
    int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

void createEmpty(const std::string& path) {
    ::unlink(path.c_str());
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
}

}  // namespace

void scanPartial(const std::string& path, Sha256& hasher, std::int64_t& received) {
    int fd = openRegular(path, O_RDONLY);
    if (fd < 0) {
        createEmpty(path);
        return;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::vector<char> buffer(SCAN_CHUNK);
    for (;;) {
        ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        hasher.update(buffer.data(), static_cast<std::size_t>(n));
        received += n;
    }
    ::close(fd);
}

PartialFile preparePartial(const std::string& path, std::int64_t size) {
    PartialFile p;
    scanPartial(path, p.hasher, p.received);
    if (p.received > 0 && p.received >= size) {
        createEmpty(path);
        p.hasher.reset();
        p.received = 0;
    }
    p.fd = openRegular(path, O_WRONLY);
    if (p.fd < 0) return p;
    // A scan cut short by a read error counted fewer bytes than the file holds;
    // appending after the unread rest would make every later byte wrong.
    struct stat st {};
    if (::fstat(p.fd, &st) == 0 && st.st_size != p.received) {
        if (::ftruncate(p.fd, p.received) != 0) {
            ::close(p.fd);
            p.fd = -1;
            return p;
        }
    }
    if (::lseek(p.fd, p.received, SEEK_SET) < 0) {
        ::close(p.fd);
        p.fd = -1;
    }
    return p;
}

int writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

std::string describeErrno(int err) {
    switch (err) {
        case ENOSPC:
            return "磁盘空间不足";
        case EDQUOT:
            return "磁盘配额已用完";
        case EACCES:
        case EPERM:
            return "没有权限";
        case EROFS:
            return "文件系统只读";
        case EIO:
            return "磁盘读写错误";
        case ENOENT:
            return "文件或目录不存在";
        case EEXIST:
        case ENOTEMPTY:
            return "目标已存在且无法替换";
        case EXDEV:
            return "不能跨文件系统移动";
        default:
            return std::string("系统错误(") + std::strerror(err) + ")";
    }
}

}  // namespace zavren
