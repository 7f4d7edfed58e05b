#include "download_server.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "loopback/loopback_server.h"

namespace zavren::tools {

namespace {

constexpr std::size_t CHUNK = 256 * 1024;

bool safeName(const std::string& name) {
    if (name.empty() || name.front() == '/') return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        std::string part = name.substr(start, end - start);
        if (part == "..") return false;
        start = end + 1;
    }
    return name.find('\0') == std::string::npos;
}

std::string baseName(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// One "bytes=A-B", "bytes=A-" or "bytes=-N"; nullopt for anything else (then the
// whole file is served, as a server that ignores unknown ranges would).
struct Range {
    std::int64_t first = 0;
    std::int64_t last = -1;  // -1: to the end
    std::int64_t suffix = -1;
};

std::optional<Range> parseRange(const std::string& header) {
    const std::string prefix = "bytes=";
    if (header.rfind(prefix, 0) != 0) return std::nullopt;
    std::string spec = header.substr(prefix.size());
    if (spec.find(',') != std::string::npos) return std::nullopt;
    auto dash = spec.find('-');
    if (dash == std::string::npos) return std::nullopt;
    auto number = [](const std::string& s) -> std::optional<std::int64_t> {
        if (s.empty() || s.size() > 18) return std::nullopt;
        std::int64_t v = 0;
        for (char c : s) {
            if (c < '0' || c > '9') return std::nullopt;
            v = v * 10 + (c - '0');
        }
        return v;
    };
    Range r;
    std::string a = spec.substr(0, dash), b = spec.substr(dash + 1);
    if (a.empty()) {
        auto n = number(b);
        if (!n) return std::nullopt;
        r.suffix = *n;
        return r;
    }
    auto first = number(a);
    if (!first) return std::nullopt;
    r.first = *first;
    if (!b.empty()) {
        auto last = number(b);
        if (!last || *last < *first) return std::nullopt;
        r.last = *last;
    }
    return r;
}

const char* statusHtml(int status) {
    switch (status) {
        case 404:
            return "<html><body><h1>404 Not Found</h1></body></html>\n";
        case 416:
            return "<html><body><h1>416 Range Not Satisfiable</h1></body></html>\n";
        default:
            return "<html><body><h1>Error</h1></body></html>\n";
    }
}

}  // namespace

struct DownloadServer::Impl {
    std::string root;
    mutable std::mutex mutex;
    Misbehaviour misbehaviour;
    std::vector<ServedRequest> requests;
    std::atomic<bool> dropped{false};
    std::atomic<bool> verbose{false};

    void record(const ServedRequest& r) {
        if (verbose) {
            std::fprintf(stderr, "serve-downloads: GET %s%s%s -> %d\n", r.path.c_str(),
                         r.range ? " Range: " : "", r.range ? r.range->c_str() : "", r.status);
        }
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(r);
    }

    void serve(const httplib::Request& req, httplib::Response& res) {
        // The library would cut the body to the requested range by itself; this
        // server decides about ranges on its own (and may ignore them on purpose).
        const_cast<httplib::Request&>(req).ranges.clear();

        ServedRequest rec;
        rec.path = req.path;
        if (req.has_header("Range")) rec.range = req.get_header_value("Range");
        Misbehaviour m;
        {
            std::lock_guard<std::mutex> lock(mutex);
            m = misbehaviour;
        }
        std::string name = req.path.substr(1);
        bool applies = m.only.empty() || m.only == name || m.only == baseName(name);

        auto fail = [&](int status) {
            res.status = status;
            res.set_content(statusHtml(status), "text/html; charset=utf-8");
            rec.status = status;
            record(rec);
        };

        struct stat st {};
        std::string path = root + "/" + name;
        if (!safeName(name) || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            fail(404);
            return;
        }
        if (applies && m.status > 0) {
            fail(m.status);
            return;
        }

        std::int64_t size = st.st_size;
        std::int64_t first = 0, length = size;
        res.status = 200;
        if (rec.range && !(applies && m.ignoreRange)) {
            if (auto r = parseRange(*rec.range)) {
                if (r->suffix >= 0) {
                    first = r->suffix >= size ? 0 : size - r->suffix;
                } else {
                    first = r->first;
                }
                std::int64_t last =
                    r->suffix >= 0 || r->last < 0 || r->last >= size ? size - 1 : r->last;
                if (first >= size || (r->suffix == 0)) {
                    res.status = 416;
                    res.set_header("Content-Range", "bytes */" + std::to_string(size));
                    res.set_content(statusHtml(416), "text/html; charset=utf-8");
                    rec.status = 416;
                    record(rec);
                    return;
                }
                length = last - first + 1;
                res.status = 206;
                res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                    std::to_string(last) + "/" +
                                                    std::to_string(size));
            }
        }
        res.set_header("Accept-Ranges", "bytes");
        rec.status = res.status;
        record(rec);

        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            res.status = 500;
            res.set_content(statusHtml(500), "text/html; charset=utf-8");
            return;
        }
        std::int64_t dropAt = -1;
        if (applies && m.dropAfter >= 0 && !(m.dropOnce && dropped.load())) dropAt = m.dropAfter;
        bool dropOnce = m.dropOnce;
        std::int64_t rate = applies ? m.bytesPerSecond : 0;
        auto startTime = std::chrono::steady_clock::now();
        auto sent = std::make_shared<std::int64_t>(0);
        auto buffer = std::make_shared<std::vector<char>>(CHUNK);
        const char* type =
            name.ends_with(".json") ? "application/json" : "application/octet-stream";

        res.set_content_provider(
            static_cast<std::size_t>(length), type,
            [this, fd, first, dropAt, dropOnce, rate, startTime, sent, buffer](
                std::size_t offset, std::size_t want, httplib::DataSink& sink) {
                std::size_t n = std::min(want, buffer->size());
                if (rate > 0) n = std::min<std::size_t>(n, std::max<std::int64_t>(rate / 20, 1));
                bool drop = false;
                if (dropAt >= 0 && *sent + static_cast<std::int64_t>(n) >= dropAt) {
                    n = static_cast<std::size_t>(std::max<std::int64_t>(dropAt - *sent, 0));
                    drop = true;
                }
                ssize_t got = n == 0
                                  ? 0
                                  : ::pread(fd, buffer->data(), n,
                                            static_cast<off_t>(first) + static_cast<off_t>(offset));
                if (got < 0 || (got == 0 && !drop)) return false;
                if (got > 0 && !sink.write(buffer->data(), static_cast<std::size_t>(got)))
                    return false;
                *sent += got;
                if (drop) {
                    if (dropOnce) dropped = true;
                    return false;  // the library closes the connection mid-body
                }
                if (rate > 0) {
                    auto due =
                        startTime + std::chrono::duration<double>(static_cast<double>(*sent) /
                                                                  static_cast<double>(rate));
                    std::this_thread::sleep_until(due);
                }
                return true;
            },
            [fd](bool) { ::close(fd); });
    }
};

DownloadServer::DownloadServer(std::string root)
    : root_(std::move(root)),
      server_(std::make_unique<LoopbackServer>()),
      impl_(std::make_shared<Impl>()) {
    impl_->root = root_;
    auto impl = impl_;
    server_->http.Get(R"(/(.+))", [impl](const httplib::Request& req, httplib::Response& res) {
        impl->serve(req, res);
    });
    server_->http.set_write_timeout(60, 0);
}

DownloadServer::~DownloadServer() {
    stop();
}

bool DownloadServer::start(int port) {
    impl_->verbose = verbose_;
    port_ = server_->bind(port);
    if (port_ == 0) return false;
    server_->serveInBackground();
    return true;
}

void DownloadServer::stop() {
    server_->stop();
}

std::string DownloadServer::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

void DownloadServer::setMisbehaviour(Misbehaviour m) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->misbehaviour = std::move(m);
    impl_->dropped = false;
}

std::vector<ServedRequest> DownloadServer::requests() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->requests;
}

void DownloadServer::clearRequests() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->requests.clear();
}

}  // namespace zavren::tools
