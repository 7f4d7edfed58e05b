#include "engine/installer/install_from.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "engine/installer/archive_download.h"
#include "engine/installer/archive_unpack.h"
#include "engine/installer/engine_installer.h"
#include "engine/installer/partial_file.h"
#include "engine/installer/sha256.h"

namespace zavren::InstallFrom {

namespace fs = std::filesystem;

namespace {

const char* const MANIFEST = "engine.json";
const char* const COPY = ".install-from.tmp";
constexpr std::size_t BLOCK = std::size_t{4} << 20;

// Opens a regular file for reading. O_NONBLOCK: a FIFO put in its place must not
// hang the open; it is refused by the type check right after.
int openRegular(const std::string& path, struct stat& st, std::string& why) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        why = errno == ENOENT ? "不存在" : describeErrno(errno);
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        why = "不是普通文件";
        return -1;
    }
    return fd;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

InstallPhase failed(std::string message) {
    return InstallPhase{InstallPhase::Failed{std::move(message)}};
}

}  // namespace

std::optional<std::string> archiveName(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    std::string segment = path.substr(path.rfind('/') + 1);
    std::string name;
    for (std::size_t i = 0; i < segment.size(); ++i) {
        if (segment[i] == '%' && i + 2 < segment.size() && hexValue(segment[i + 1]) >= 0 &&
            hexValue(segment[i + 2]) >= 0) {
            name += static_cast<char>(hexValue(segment[i + 1]) * 16 + hexValue(segment[i + 2]));
            i += 2;
        } else {
            name += segment[i];
        }
    }
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return std::nullopt;
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::nullopt;
    return name;
}

std::variant<Package, std::string> locate(const std::string& path) {
    std::error_code ec;
    const fs::path given(path);
    const fs::path manifest = fs::is_directory(given, ec) ? given / MANIFEST : given;
    struct stat st {};
    std::string why;
    int fd = openRegular(manifest, st, why);
    if (fd < 0) return manifest.string() + " " + why;
    std::string text;
    if (st.st_size > static_cast<off_t>(EngineInstaller::MANIFEST_MAX_BYTES)) {
        ::close(fd);
        return manifest.string() + " 太大,不是引擎信息文件";
    }
    char buf[65536];
    ssize_t n;
    while (text.size() <= EngineInstaller::MANIFEST_MAX_BYTES &&
           (n = ::read(fd, buf, sizeof buf)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = describeErrno(errno);
            ::close(fd);
            return manifest.string() + " 无法读取:" + why;
        }
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    auto decoded = EngineManifest::decode(text);
    if (!decoded) return manifest.string() + " 不是有效的引擎信息文件(engine.json)";
    Package package{manifest.string(), {}, decoded->effective(), decoded->version};
    if (package.asset.size < 0) return manifest.string() + " 中的大小无效";
    auto sha = normalisedSha256(package.asset.sha256);
    if (!sha) return manifest.string() + " 中的 SHA-256 无效(应为 64 位十六进制数)";
    package.asset.sha256 = *sha;
    auto name = archiveName(package.asset.url);
    if (!name) return manifest.string() + " 中的地址不含引擎包的文件名";
    package.archive = (manifest.parent_path() / *name).string();
    if (int afd = openRegular(package.archive, st, why); afd < 0)
        return "找不到引擎包:" + package.archive + " " + why + "(应与 engine.json 放在同一文件夹)";
    else
        ::close(afd);
    return package;
}

InstallPhase install(const Package& package, const std::string& root,
                     const std::function<void(const InstallPhase&)>& progress) {
    auto report = [&progress](InstallPhase p) {
        if (progress) progress(p);
    };
    report(InstallPhase{InstallPhase::Verifying{}});
    std::error_code ec;
    fs::create_directories(root, ec);
    if (ec) return failed("无法创建引擎目录 " + root + ":" + describeErrno(ec.value()));
    // The copy; the unpacking checks the room its members need before writing any.
    if (auto free = availableBytes(root); free && *free < package.asset.size)
        return failed("磁盘空间不足,无法安装引擎包,请清理磁盘后重试");

    struct stat st {};
    std::string why;
    int in = openRegular(package.archive, st, why);
    if (in < 0) return failed("找不到引擎包:" + package.archive + " " + why);
    const std::string copy = root + "/" + COPY;
    ::unlink(copy.c_str());
    int out = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (out < 0) {
        why = describeErrno(errno);
        ::close(in);
        return failed("无法写入引擎目录:" + why);
    }
    // Never read more than the manifest allows: a file that grows is no match.
    Sha256 hasher;
    std::int64_t total = 0;
    std::string buf(BLOCK, '\0');
    int error = 0;
    for (;;) {
        ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = errno;
        if (n <= 0) break;
        total += n;
        if (total > package.asset.size) break;
        hasher.update(buf.data(), static_cast<std::size_t>(n));
        if (int err = writeAll(out, buf.data(), static_cast<std::size_t>(n))) {
            error = err;
            break;
        }
    }
    ::close(in);
    if (::close(out) != 0 && error == 0) error = errno;
    auto cleanUp = [&copy] { ::unlink(copy.c_str()); };
    if (error != 0) {
        cleanUp();
        return failed("无法复制引擎包:" + describeErrno(error));
    }
    if (total != package.asset.size || hasher.hexDigest() != package.asset.sha256) {
        cleanUp();
        return failed(
            "校验失败:引擎包与 engine.json 不符(大小或 SHA-256 不对),文件可能不完整或已损坏");
    }
    report(InstallPhase{InstallPhase::Extracting{}});
    auto failure = unpackEngine(copy, root, availableBytes);
    cleanUp();
    if (failure) return failed(*failure);
    return InstallPhase{InstallPhase::Done{}};
}

}  // namespace zavren::InstallFrom
