#include "engine/installer/archive_unpack.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/installer/archive_download.h"
#include "engine/installer/archive_entry.h"
#include "engine/installer/partial_file.h"
#include "engine/installer/sha256.h"
#include "shared/files.h"

namespace zavren {

namespace fs = std::filesystem;

namespace install_messages {

const std::string CORRUPT = "校验失败(文件损坏),已清理,请重试";
const std::string NO_ENGINE_DIR = "引擎包结构异常(未找到 engine-* 目录),请重试";

// Needed rounds up and free rounds down: nearest rounding can print the same
// number on both sides of a refusal.
std::string noSpace(std::int64_t needed, std::int64_t free) {
    constexpr std::int64_t MB = 1048576;
    auto mb = [](std::int64_t bytes, bool up) {
        return std::to_string(bytes / MB + (up && bytes % MB != 0 ? 1 : 0)) + " MB";
    };
    return "磁盘空间不足:需要 " + mb(needed, true) + ",可用 " + mb(free, false) +
           ",请清理磁盘后重试";
}

}  // namespace install_messages

namespace {

const std::string MSG_UNREADABLE = "解压失败:无法读取引擎包,请重试";
constexpr std::int64_t BLOCK = 4096;

// Names from a hostile archive go into a message: keep them short and printable.
std::string printable(const std::string& text) {
    std::string out;
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        out += (u >= 0x20 && u < 0x7f) ? c : '?';
        if (out.size() >= 100) {
            out += "...";
            break;
        }
    }
    return out;
}

std::string unsafe(const ArchiveEntry& e, const std::string& why) {
    return "解压失败:引擎包含有不安全的条目 " + printable(e.name) + "(" + why + ")";
}

// libarchive reads a descriptor we opened and leaves closing it to us.
struct OpenArchive {
    archive* reader = nullptr;
    int fd = -1;
    OpenArchive() = default;
    OpenArchive(const OpenArchive&) = delete;
    OpenArchive& operator=(const OpenArchive&) = delete;
    ~OpenArchive() {
        if (reader) archive_read_free(reader);
        if (fd >= 0) ::close(fd);
    }
};

struct WriterDeleter {
    void operator()(archive* a) const { archive_write_free(a); }
};
using Writer = std::unique_ptr<archive, WriterDeleter>;

// False when it is not a readable regular file: a FIFO or a device in its place
// must neither block us nor feed us forever.
bool openArchive(const std::string& path, OpenArchive& a) {
    a.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (a.fd < 0 || ::fstat(a.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    a.reader = archive_read_new();
    if (!a.reader) return false;
    archive_read_support_filter_gzip(a.reader);
    archive_read_support_format_tar(a.reader);
    return archive_read_open_fd(a.reader, a.fd, 1 << 16) == ARCHIVE_OK;
}

ArchiveEntry describe(archive_entry* e) {
    ArchiveEntry out;
    const char* name = archive_entry_pathname(e);
    out.name = name ? name : "";
    out.size = archive_entry_size_is_set(e) ? archive_entry_size(e) : 0;
    if (const char* hard = archive_entry_hardlink(e)) {
        out.type = ArchiveEntry::Type::hardlink;
        out.linkTarget = hard;
        return out;
    }
    switch (archive_entry_filetype(e)) {
        case AE_IFREG:
            out.type = ArchiveEntry::Type::regular;
            break;
        case AE_IFDIR:
            out.type = ArchiveEntry::Type::directory;
            break;
        case AE_IFLNK: {
            out.type = ArchiveEntry::Type::symlink;
            const char* target = archive_entry_symlink(e);
            out.linkTarget = target ? target : "";
            break;
        }
        default:
            out.type = ArchiveEntry::Type::other;
    }
    return out;
}

// Walks the headers; calls visit for each checked member, which returns a message
// to stop. A message when the archive cannot be read or a member is refused.
template <typename Visit>
std::optional<std::string> walk(archive* a, Visit&& visit) {
    ArchiveEntryChecker checker;
    std::int64_t count = 0;
    for (;;) {
        archive_entry* e = nullptr;
        int rc = archive_read_next_header(a, &e);
        if (rc == ARCHIVE_EOF) return std::nullopt;
        if (rc < ARCHIVE_WARN) return MSG_UNREADABLE;
        if (++count > MAX_ARCHIVE_ENTRIES) return std::string("解压失败:引擎包条目过多");
        ArchiveEntry entry = describe(e);
        if (auto why = checker.check(entry)) return unsafe(entry, *why);
        if (auto stop = visit(e, entry)) return stop;
    }
}

// What the members will take on disk, against the cap and the free space, before
// anything is written; stops at the first member that does not fit.
std::optional<std::string> checkTotal(const std::string& archivePath, const std::string& root,
                                      const FreeBytesProbe& freeBytes) {
    OpenArchive a;
    if (!openArchive(archivePath, a)) return MSG_UNREADABLE;
    const std::optional<std::int64_t> free = freeBytes ? freeBytes(root) : std::nullopt;
    std::int64_t total = 0;
    return walk(a.reader, [&](archive_entry*, const ArchiveEntry& entry) {
        std::optional<std::string> stop;
        // Whole blocks, saturating at the cap.
        const std::int64_t blocks = entry.size / BLOCK + 1;
        total = blocks > (MAX_UNPACKED_BYTES - total) / BLOCK ? MAX_UNPACKED_BYTES + 1
                                                              : total + blocks * BLOCK;
        if (total > MAX_UNPACKED_BYTES)
            stop = "解压失败:引擎包解压后超过 " + std::to_string(MAX_UNPACKED_BYTES >> 30) + " GB";
        else if (free && *free < total)
            stop = install_messages::noSpace(total, *free);
        return stop;
    });
}

// u+rw on everything, u+x on folders and on what anyone could run; nothing for
// group or others to write, no set-id bits.
mode_t normalisedMode(const ArchiveEntry& entry, mode_t mode) {
    if (entry.type == ArchiveEntry::Type::directory) return (mode & 0755) | 0700;
    return (mode & 0755) | 0600 | ((mode & 0111) ? 0100 : 0);
}

std::optional<std::string> writeAll(const std::string& archivePath, const std::string& scratch) {
    OpenArchive a;
    if (!openArchive(archivePath, a)) return MSG_UNREADABLE;
    Writer out(archive_write_disk_new());
    if (!out) return MSG_UNREADABLE;
    archive_write_disk_set_options(out.get(),
                                   ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    auto writeError = [&](const std::string& name) {
        const char* why = archive_error_string(out.get());
        return "解压失败:" + printable(name) + ":" + (why ? why : "写入出错");
    };
    auto refusal = walk(a.reader, [&](archive_entry* e, const ArchiveEntry& entry) {
        std::optional<std::string> stop;
        archive_entry_set_pathname(e, (scratch + "/" + entry.name).c_str());
        archive_entry_set_perm(e, normalisedMode(entry, archive_entry_perm(e)));
        if (archive_write_header(out.get(), e) < ARCHIVE_WARN) return stop = writeError(entry.name);
        if (entry.type == ArchiveEntry::Type::regular) {
            const void* buf = nullptr;
            std::size_t size = 0;
            la_int64_t offset = 0;
            for (;;) {
                int rc = archive_read_data_block(a.reader, &buf, &size, &offset);
                if (rc == ARCHIVE_EOF) break;
                if (rc < ARCHIVE_WARN) return stop = MSG_UNREADABLE;
                if (offset < 0 || static_cast<std::int64_t>(size) > entry.size - offset)
                    return stop = unsafe(entry, "数据超出声明的大小");
                if (archive_write_data_block(out.get(), buf, size, offset) < ARCHIVE_WARN)
                    return stop = writeError(entry.name);
            }
        }
        if (archive_write_finish_entry(out.get()) < ARCHIVE_WARN) stop = writeError(entry.name);
        return stop;
    });
    if (refusal) return refusal;
    if (archive_write_close(out.get()) != ARCHIVE_OK) return writeError("");
    return std::nullopt;
}

std::optional<fs::path> engineFolder(const std::string& scratch) {
    std::error_code ec;
    for (fs::directory_iterator it(scratch, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        std::error_code sec;
        if (name.rfind("engine-", 0) == 0 && fs::is_directory(it->symlink_status(sec)))
            return it->path();
    }
    return std::nullopt;
}

std::optional<std::string> unpackInto(const std::string& archivePath, const std::string& root,
                                      const std::string& scratch, const FreeBytesProbe& freeBytes) {
    if (auto refusal = checkTotal(archivePath, root, freeBytes)) return refusal;
    if (::mkdir(scratch.c_str(), 0700) != 0) return "解压失败:" + describeErrno(errno);
    if (auto refusal = writeAll(archivePath, scratch)) return refusal;
    auto found = engineFolder(scratch);
    if (!found) return install_messages::NO_ENGINE_DIR;
    fs::path dest = fs::path(root) / found->filename();
    if (!files::removeTree(dest)) return "安装失败:无法替换 " + dest.string();
    std::error_code ec;
    fs::rename(*found, dest, ec);
    if (ec) return "安装失败:" + describeErrno(ec.value());
    return std::nullopt;
}

}  // namespace

std::optional<std::string> unpackEngine(const std::string& archivePath,
                                        const std::string& installRoot,
                                        const FreeBytesProbe& freeBytes) {
    const std::string scratch = installRoot + "/.extract-tmp";
    // What an earlier attempt left, whatever its modes.
    files::removeTree(scratch);
    auto refusal = unpackInto(archivePath, installRoot, scratch, freeBytes);
    files::removeTree(scratch);
    return refusal;
}

std::optional<std::string> verifyAndUnpack(const EngineManifest::Asset& asset,
                                           const std::string& archivePath,
                                           const std::string& installRoot,
                                           const FreeBytesProbe& freeBytes) {
    const auto expected = normalisedSha256(asset.sha256);
    if (!expected) return std::string("引擎信息无效:sha256 应为 64 位十六进制数");
    int fd = ::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        return "无法读取引擎包:" + describeErrno(fd < 0 ? errno : EINVAL);
    }
    Sha256 hasher;
    std::int64_t read = 0;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        read += n;
        if (read > asset.size) break;
        hasher.update(buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (read != asset.size) return std::string("校验失败:大小不符");
    if (hasher.hexDigest() != *expected) return std::string("校验失败(文件损坏)");
    return unpackEngine(archivePath, installRoot, freeBytes);
}

}  // namespace zavren
