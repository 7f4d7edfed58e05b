#pragma once

#include <memory>
#include <string_view>
#include <thread>

#include "platform/http.h"

namespace zavren {

// HttpClient over libcurl's multi interface, driven by one thread that the
// client owns. Every callback runs on that thread, in the order the port
// promises. Headers go out exactly as given: curl's own Accept, Expect and
// form Content-Type are suppressed, so a request carries only what the caller
// set plus what HTTP itself needs (Host, Content-Length). Redirects are followed,
// from an https address only to https.
//
// The time-out is an idle time-out measured by the client itself: a transfer
// fails once no byte has moved in either direction for that long, so a slow but
// steady transfer is never cut; a request's deadline, when set, bounds the
// whole transfer. A send() body past maxBodyBytes ends the transfer at once
// with Kind::tooLarge. There is no local cache, so both cache policies
// send the same request.
//
// Cancelling is safe from any thread, including from inside a callback; once
// cancel() has returned no further data or response callback of that transfer
// starts, and its completion arrives with Kind::cancelled. Destroying the
// client cancels what is in flight and waits for those completions.
// The schemes a redirect from url may lead to, as curl spells them.
const char* redirectProtocolsFor(std::string_view url);

class CurlHttpClient : public HttpClient {
  public:
    CurlHttpClient();
    ~CurlHttpClient() override;
    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    std::shared_ptr<HttpTask> send(HttpRequest request,
                                   std::function<void(HttpResponse)> done) override;
    std::shared_ptr<HttpTask> stream(HttpRequest request, HttpStreamHandlers handlers) override;

    struct Impl;

  private:
    std::shared_ptr<Impl> impl_;
    std::thread thread_;
};

}  // namespace zavren
