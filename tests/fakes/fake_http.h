#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "fakes/fake_dispatcher.h"
#include "platform/http.h"

namespace zavren::fakes {

// Records every request. Answers come from the test: either at once through
// complete()/streamResponse()/streamData()/streamComplete(), or from a responder
// that the client consults for each new request. Answers are delivered as
// dispatcher tasks, never inside send(). A request nobody answers fails with a
// time-out once its idle time-out or deadline has passed in virtual time; a
// body past maxBodyBytes arrives as a tooLarge error, as with the real client.
class FakeHttpClient : public HttpClient {
  public:
    struct Call {
        HttpRequest request;
        bool streamed = false;
        bool cancelled = false;
        bool finished = false;
        std::function<void(HttpResponse)> done;
        HttpStreamHandlers handlers;
    };
    // Return an answer and its delay, or nullopt to leave the request hanging.
    using Responder =
        std::function<std::optional<std::pair<HttpResponse, Duration>>(const HttpRequest&)>;

    explicit FakeHttpClient(FakeDispatcher& dispatcher) : dispatcher_(dispatcher) {}

    std::shared_ptr<HttpTask> send(HttpRequest request,
                                   std::function<void(HttpResponse)> done) override;
    std::shared_ptr<HttpTask> stream(HttpRequest request, HttpStreamHandlers handlers) override;

    void setResponder(Responder r) { responder_ = std::move(r); }
    // Answers every request at once with this status and body.
    void respondAlways(int status, std::string body = {});

    std::size_t count() const { return calls_.size(); }
    const HttpRequest& request(std::size_t i) const { return calls_.at(i)->request; }
    const Call& call(std::size_t i) const { return *calls_.at(i); }
    std::size_t countTo(const std::string& url) const;

    // Delivers an answer to call i (as a dispatcher task).
    void complete(std::size_t i, HttpResponse response);
    void streamResponse(std::size_t i, int status);
    // Returns what onData answered (false: the client aborted).
    bool streamData(std::size_t i, const std::string& bytes);
    void streamComplete(std::size_t i, std::optional<HttpError> error = std::nullopt);

  private:
    struct FakeTask;
    std::shared_ptr<HttpTask> add(std::shared_ptr<Call> call);
    void armTimeout(const std::shared_ptr<Call>& call);
    void finish(const std::shared_ptr<Call>& call, HttpResponse response);

    FakeDispatcher& dispatcher_;
    Responder responder_;
    std::vector<std::shared_ptr<Call>> calls_;
};

}  // namespace zavren::fakes
