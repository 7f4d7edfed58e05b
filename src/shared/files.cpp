#include "shared/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <limits>

namespace zavren::files {

namespace {

// Regular files ignore O_NONBLOCK; anything else is refused after fstat.
int openUserFile(const std::string& path, int extraFlags) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | extraFlags);
}

constexpr std::size_t WHOLE = std::numeric_limits<std::size_t>::max() - 1;

// Reads at most maxBytes of a regular file, one byte more telling whether there
// was more, and closes fd.
std::optional<CappedRead> readFd(int fd, std::size_t maxBytes) {
    struct stat st {};
    if (fd < 0) return std::nullopt;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    CappedRead out;
    if (static_cast<std::uintmax_t>(st.st_size) <= maxBytes)
        out.bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    while (out.bytes.size() <= maxBytes) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        out.bytes.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (out.bytes.size() > maxBytes) {
        out.bytes.resize(maxBytes);
        out.complete = false;
    }
    return out;
}

std::optional<std::string> whole(std::optional<CappedRead> r) {
    if (!r) return std::nullopt;
    return std::move(r->bytes);
}

}  // namespace

mode_t currentUmask() {
    // Read, not set and restored: another thread may create a file meanwhile.
    if (auto status = read("/proc/self/status")) {
        const auto at = status->find("\nUmask:");
        if (at != std::string::npos) {
            try {
                return static_cast<mode_t>(std::stoul(status->substr(at + 7), nullptr, 8));
            } catch (const std::exception&) {
            }
        }
    }
    return 022;
}

std::optional<std::string> readNoFollow(const std::string& path) {
    return whole(readFd(openUserFile(path, O_NOFOLLOW), WHOLE));
}

std::optional<std::string> read(const std::string& path) {
    return whole(readFd(openUserFile(path, 0), WHOLE));
}

UserFile checkUserFile(const std::string& path, std::size_t maxBytes) {
    int fd = openUserFile(path, 0);
    if (fd < 0) return errno == ENOENT ? UserFile::missing : UserFile::unreadable;
    struct stat st {};
    UserFile result = UserFile::ok;
    if (::fstat(fd, &st) != 0)
        result = UserFile::unreadable;
    else if (!S_ISREG(st.st_mode))
        result = UserFile::notRegular;
    else if (static_cast<std::uintmax_t>(st.st_size) > maxBytes)
        result = UserFile::tooLarge;
    ::close(fd);
    return result;
}

std::optional<CappedRead> readCapped(const std::string& path, std::size_t maxBytes) {
    return readFd(openUserFile(path, 0), maxBytes);
}

bool writeAtomic(const std::string& path, const std::string& bytes) {
    // mkstemp makes 0600; a file the user edits gets what any new file of theirs gets.
    return writeAtomic(path, bytes, 0666 & ~currentUmask());
}

bool writeAtomic(const std::string& path, const std::string& bytes, mode_t mode) {
    std::string tmp = path + ".XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    ::fchmod(fd, mode);
    if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

namespace {

void openUp(const std::string& dir) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return;
    if ((st.st_mode & S_IRWXU) != S_IRWXU) ::chmod(dir.c_str(), (st.st_mode & 07777) | S_IRWXU);
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code sec;
        if (it->is_directory(sec) && !it->is_symlink(sec)) openUp(it->path().string());
    }
}

}  // namespace

bool removeTree(const std::string& path) {
    openUp(path);
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    struct stat st {};
    return ::lstat(path.c_str(), &st) != 0;
}

void removeQuietly(const std::string& path) {
    std::remove(path.c_str());
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace zavren::files
