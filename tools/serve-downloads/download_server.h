#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zavren::tools {

class LoopbackServer;

// Ways the server can misbehave on purpose, to exercise a client's failure handling.
struct Misbehaviour {
    bool ignoreRange = false;         // answer every ranged request with 200 and the whole file
    std::int64_t dropAfter = -1;      // close the connection after this many body bytes
    bool dropOnce = false;            // ...only for the first response that gets that far
    int status = 0;                   // answer this HTTP status (with a short HTML body) instead
    std::int64_t bytesPerSecond = 0;  // throttle the body; 0 = as fast as possible
    std::string only;                 // apply only to this file name; empty = every file
};

struct ServedRequest {
    std::string path;                  // as requested, e.g. "/engine.json"
    std::optional<std::string> range;  // the Range header, when sent
    int status = 0;
};

// Serves the regular files of one folder over HTTP GET/HEAD on 127.0.0.1, with single
// byte ranges (206 + Content-Range, 416 past the end). Runs on its own threads.
class DownloadServer {
  public:
    explicit DownloadServer(std::string root);
    ~DownloadServer();
    DownloadServer(const DownloadServer&) = delete;
    DownloadServer& operator=(const DownloadServer&) = delete;

    // Binds 127.0.0.1:port (0: any free port) and starts serving. False when the
    // port cannot be bound.
    bool start(int port = 0);
    void stop();
    int port() const { return port_; }
    std::string baseUrl() const;  // "http://127.0.0.1:PORT"

    void setMisbehaviour(Misbehaviour m);
    std::vector<ServedRequest> requests() const;
    void clearRequests();
    // Echo one line per request to stderr.
    void setVerbose(bool v) { verbose_ = v; }

  private:
    struct Impl;
    std::string root_;
    int port_ = 0;
    bool verbose_ = false;
    std::unique_ptr<LoopbackServer> server_;
    std::shared_ptr<Impl> impl_;
};

}  // namespace zavren::tools
