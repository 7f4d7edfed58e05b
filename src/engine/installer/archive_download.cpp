#include "engine/installer/archive_download.h"

#include "engine/installer/phase.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>

namespace zavren {

namespace {

constexpr std::size_t WRITE_BLOCK = 1 << 20;
const std::string MSG_SIZE_MISMATCH = "下载失败:大小不符(服务器发送的数据多于声明),已清理,请重试";

std::string interrupted(const std::string& why, std::int64_t received) {
    return "下载中断:" + why + "。已下 " + fmtMB(received) + ",点重试从断点继续";
}

// One transfer, shared by its callbacks on the HTTP thread.
struct Transfer {
    EngineManifest::Asset asset;
    PartialFile file;  // file.received/hasher cover exactly the bytes written to disk
    std::string path;
    std::string pending;  // received, not yet written: chunks are small, syscalls are not free
    int status = 0;
    int writeError = 0;
    bool oversize = false;
    std::function<bool(std::int64_t)> progress;
    std::function<void(DownloadOutcome)> done;

    Transfer() = default;
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;
    // A transfer dropped before it ended still releases its file.
    ~Transfer() {
        if (file.fd >= 0) ::close(file.fd);
    }

    void onResponse(int s) {
        status = s;
        // The server ignored the range: start over within this same transfer.
        if (status == 200 && file.received > 0) {
            file.hasher.reset();
            file.received = 0;
            pending.clear();
            if (::ftruncate(file.fd, 0) == 0) ::lseek(file.fd, 0, SEEK_SET);
        }
    }

    // Writes the pending bytes, then accounts for them; on failure the file is cut
    // back so that it holds exactly the bytes already hashed.
    bool flush() {
        if (pending.empty()) return true;
        if (int err = writeAll(file.fd, pending.data(), pending.size())) {
            writeError = err;
            pending.clear();
            if (::ftruncate(file.fd, file.received) != 0) {
                // Nothing more to do: the next scan hashes whatever is on disk.
            }
            return false;
        }
        file.hasher.update(pending.data(), pending.size());
        file.received += static_cast<std::int64_t>(pending.size());
        pending.clear();
        return true;
    }

    bool onData(const char* data, std::size_t size) {
        // An error page is not part of the archive: never let it into the file.
        if (status >= 400 || file.fd < 0) return false;
        const std::int64_t room =
            asset.size - file.received - static_cast<std::int64_t>(pending.size());
        if (static_cast<std::int64_t>(size) > room) {
            // A server that sends more than it declared could fill the disk.
            oversize = true;
            return false;
        }
        if (pending.capacity() < WRITE_BLOCK) pending.reserve(WRITE_BLOCK);
        pending.append(data, size);
        const std::int64_t count = file.received + static_cast<std::int64_t>(pending.size());
        if (pending.size() >= WRITE_BLOCK && !flush()) return false;
        return progress(count);
    }

    void onComplete(std::optional<HttpError> error) {
        if (file.fd >= 0) {
            // What arrived before an interruption is a valid prefix: keep it.
            if (writeError == 0 && status < 400) flush();
            // A delayed write error can surface only here.
            if (::close(file.fd) != 0 && writeError == 0 && errno != EINTR) writeError = errno;
            file.fd = -1;
        }
        DownloadOutcome out;
        out.received = file.received;
        out.failure = failure(error);
        if (!out.failure) out.digest = file.hasher.hexDigest();
        done(std::move(out));
    }

    std::optional<std::string> failure(const std::optional<HttpError>& error) {
        if (oversize) {
            ::unlink(path.c_str());
            return MSG_SIZE_MISMATCH;
        }
        if (writeError != 0) return interrupted(describeErrno(writeError), file.received);
        if (status == 416) {
            // The range no longer fits the server's file (it was replaced): what we
            // hold cannot be resumed, so the retry must start from zero.
            ::unlink(path.c_str());
            return "校验失败(文件损坏),已清理,请重试";
        }
        if (status >= 400)
            return interrupted("服务器返回 HTTP " + std::to_string(status), file.received);
        // A redirect to an address we never fetch will not work any better later.
        if (error && error->kind == HttpError::Kind::badUrl)
            return "下载失败:" + error->description + "(下载地址无效)";
        if (error) return interrupted(error->description, file.received);
        if (file.received < asset.size) return interrupted("连接提前结束", file.received);
        return std::nullopt;
    }
};

}  // namespace

std::optional<std::string> normalisedSha256(const std::string& text) {
    if (text.size() != 64) return std::nullopt;
    std::string out;
    out.reserve(64);
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::shared_ptr<HttpTask> downloadArchive(HttpClient& http, const EngineManifest::Asset& asset,
                                          PartialFile file, std::string partialPath,
                                          std::function<bool(std::int64_t)> progress,
                                          std::function<void(DownloadOutcome)> done) {
    auto t = std::make_shared<Transfer>();
    t->asset = asset;
    t->file = std::move(file);
    t->path = std::move(partialPath);
    t->progress = std::move(progress);
    t->done = std::move(done);

    HttpRequest req;
    req.url = asset.url;
    req.timeout = seconds(60);
    if (t->file.received > 0)
        req.headers.emplace_back("Range", "bytes=" + std::to_string(t->file.received) + "-");
    HttpStreamHandlers h;
    h.onResponse = [t](int status) { t->onResponse(status); };
    h.onData = [t](const char* data, std::size_t size) { return t->onData(data, size); };
    // The handlers hold the transfer; completion releases them.
    h.onComplete = [t](std::optional<HttpError> error) { t->onComplete(std::move(error)); };
    return http.stream(std::move(req), std::move(h));
}

}  // namespace zavren
