#include "fakes/fake_http.h"

#include <algorithm>

namespace zavren::fakes {

namespace {

HttpResponse failed(HttpError::Kind kind, std::string description) {
    return {0, {}, HttpError{kind, std::move(description)}};
}

}  // namespace

struct FakeHttpClient::FakeTask : HttpTask {
    std::weak_ptr<Call> call;
    FakeHttpClient* owner = nullptr;
    void cancel() override {
        auto c = call.lock();
        if (!c || c->finished) return;
        c->cancelled = true;
        owner->finish(c, failed(HttpError::Kind::cancelled, "已取消"));
    }
};

std::shared_ptr<HttpTask> FakeHttpClient::send(HttpRequest request,
                                               std::function<void(HttpResponse)> done) {
    auto call = std::make_shared<Call>();
    call->request = std::move(request);
    call->done = std::move(done);
    if (auto answer = responder_ ? responder_(call->request) : std::nullopt) {
        std::weak_ptr<Call> weak = call;
        dispatcher_.backgroundAfter(answer->second, [this, weak, r = answer->first] {
            if (auto c = weak.lock()) finish(c, r);
        });
    }
    armTimeout(call);
    return add(call);
}

std::shared_ptr<HttpTask> FakeHttpClient::stream(HttpRequest request, HttpStreamHandlers handlers) {
    auto call = std::make_shared<Call>();
    call->request = std::move(request);
    call->streamed = true;
    call->handlers = std::move(handlers);
    return add(call);
}

std::shared_ptr<HttpTask> FakeHttpClient::add(std::shared_ptr<Call> call) {
    auto task = std::make_shared<FakeTask>();
    task->call = call;
    task->owner = this;
    calls_.push_back(std::move(call));
    return task;
}

void FakeHttpClient::respondAlways(int status, std::string body) {
    setResponder([status, body](const HttpRequest&) {
        return std::make_optional(std::pair(HttpResponse{status, body, {}}, Duration::zero()));
    });
}

std::size_t FakeHttpClient::countTo(const std::string& url) const {
    return static_cast<std::size_t>(
        std::ranges::count_if(calls_, [&](auto& c) { return c->request.url == url; }));
}

// Nothing moves on an unanswered request, so it ends at its idle time-out or
// its deadline, whichever comes first.
void FakeHttpClient::armTimeout(const std::shared_ptr<Call>& call) {
    std::weak_ptr<Call> weak = call;
    const HttpRequest& req = call->request;
    Duration limit =
        req.deadline > Duration::zero() ? std::min(req.timeout, req.deadline) : req.timeout;
    dispatcher_.backgroundAfter(limit, [this, weak] {
        if (auto c = weak.lock()) finish(c, failed(HttpError::Kind::timedOut, "请求超时"));
    });
}

void FakeHttpClient::finish(const std::shared_ptr<Call>& call, HttpResponse response) {
    if (call->finished) return;
    call->finished = true;
    // As the real client does: an oversized body never reaches the caller.
    if (!call->streamed && response.body.size() > call->request.maxBodyBytes)
        response = {response.status, {}, HttpError{HttpError::Kind::tooLarge, "响应过大"}};
    if (call->streamed) {
        if (call->handlers.onComplete) call->handlers.onComplete(response.error);
    } else if (call->done) {
        call->done(std::move(response));
    }
}

void FakeHttpClient::complete(std::size_t i, HttpResponse response) {
    std::weak_ptr<Call> weak = calls_.at(i);
    dispatcher_.background([this, weak, r = std::move(response)] {
        if (auto c = weak.lock()) finish(c, r);
    });
}

void FakeHttpClient::streamResponse(std::size_t i, int status) {
    auto& c = *calls_.at(i);
    if (!c.finished && c.handlers.onResponse) c.handlers.onResponse(status);
}

bool FakeHttpClient::streamData(std::size_t i, const std::string& bytes) {
    auto c = calls_.at(i);
    if (c->finished || !c->handlers.onData) return false;
    const bool ok = c->handlers.onData(bytes.data(), bytes.size());
    if (!ok) finish(c, failed(HttpError::Kind::aborted, "传输被中止"));
    return ok;
}

void FakeHttpClient::streamComplete(std::size_t i, std::optional<HttpError> error) {
    finish(calls_.at(i), {0, {}, std::move(error)});
}

}  // namespace zavren::fakes
