#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/dispatch.h"

namespace zavren {

struct HttpRequest {
    enum class CachePolicy { useProtocol, reloadIgnoringLocalCache };

    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // Idle time-out: the request fails when no byte moves for this long. Never a
    // limit on the whole transfer.
    Duration timeout = seconds(60);
    // Limit on the whole transfer, on top of the idle time-out; zero means none.
    Duration deadline = Duration::zero();
    // send() only: a body past this many bytes ends the transfer with an error.
    std::size_t maxBodyBytes = std::size_t{1} << 20;
    CachePolicy cache = CachePolicy::useProtocol;
};

struct HttpError {
    enum class Kind {
        cancelled,
        timedOut,
        cannotConnect,
        hostNotFound,
        connectionLost,
        tls,
        badUrl,
        aborted,   // the data callback refused a chunk
        tooLarge,  // the body passed maxBodyBytes
        other
    };
    Kind kind = Kind::other;
    std::string description;  // Chinese, shown to users as is
};

struct HttpResponse {
    int status = 0;  // 0 when no HTTP response arrived
    std::string body;
    std::optional<HttpError> error;
};

class HttpTask {
  public:
    virtual ~HttpTask() = default;
    // Ends the transfer; its completion still arrives, with a cancelled error.
    virtual void cancel() = 0;
};

// Callbacks of a streamed transfer, all on the HTTP thread, in this order:
// onResponse once (when a response arrives), onData for each chunk, onComplete once.
struct HttpStreamHandlers {
    std::function<void(int status)> onResponse;
    // Returning false aborts the transfer (completion gets Kind::aborted).
    std::function<bool(const char* data, std::size_t size)> onData;
    std::function<void(std::optional<HttpError> error)> onComplete;
};

// One HTTP client with its own thread. Completions run on that thread, never
// inside send()/stream().
class HttpClient {
  public:
    virtual ~HttpClient() = default;
    virtual std::shared_ptr<HttpTask> send(HttpRequest request,
                                           std::function<void(HttpResponse)> done) = 0;
    virtual std::shared_ptr<HttpTask> stream(HttpRequest request, HttpStreamHandlers handlers) = 0;
};

}  // namespace zavren
