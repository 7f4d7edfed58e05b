// The curl client against a scripted loopback server.
#include <gtest/gtest.h>

#include "integration/http/test_server.h"
#include "posix/curl_http_client.h"

namespace zavren {
namespace {

using namespace std::chrono_literals;
using test::Inbox;
using Kind = HttpError::Kind;
using Headers = std::vector<std::pair<std::string, std::string>>;

// One streamed callback as delivered: 'r'esponse, 'd'ata or 'c'ompletion.
struct Event {
    char type;
    int status;
    std::string bytes;
    std::optional<HttpError> error;
};

HttpRequest get(std::string url, Headers headers = {}) {
    return {"GET", std::move(url), std::move(headers), {}};
}

class ClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto record = [this](const httplib::Request& req, httplib::Response& res) {
            seen.put(req);
            res.status = req.path == "/fail" ? 500 : 200;
            res.set_content("answer:" + req.body, "text/plain");
        };
        server.server.Post("/(echo|fail)", record).Put("/(echo|fail)", record);
        server.server.Get("/(echo|fail)", record);
        server.server.Get("/stall", [this](const auto&, auto&) { server.waitForRelease(); });
        server.server.Get("/drop", [](const auto&, httplib::Response& res) {
            res.set_content_provider(1000, "text/plain", [](auto, auto, auto&) { return false; });
        });
        server.server.Get("/file", [this](const httplib::Request& req, httplib::Response& res) {
            std::string range = req.get_header_value("Range");
            if (range.starts_with("bytes=") && std::stoul(range.substr(6)) >= body.size())
                res.status = 416;
            else
                res.set_content(body, "application/octet-stream");  // cut to 206 by httplib
        });
        server.server.Get("/moved", [](const auto&, httplib::Response& res) {
            res.set_redirect("/file", 302);
            res.set_content("<html>moved</html>", "text/html");
        });
        serveBytes("/steady", 8, 250ms);
        serveBytes("/long", 40, 250ms);  // ten seconds: ends within the test's patience
        serveBytes("/5000", 5000, 0ms);
        serveBytes("/endless", 0, 0ms);
        server.start();
    }

    // `count` bytes of 'x' (endless for 0), `gap` apart, until released.
    void serveBytes(const std::string& path, std::size_t count, std::chrono::milliseconds gap) {
        server.server.Get(path, [=, this](const auto&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [=, this](std::size_t at, auto& sink) {
                std::size_t n =
                    std::min<std::size_t>(gap.count() ? 1 : 65536, count ? count - at : 65536);
                if (n == 0 || server.released()) return sink.done(), true;
                std::this_thread::sleep_for(gap);  // server pacing, not test synchronisation
                return sink.write(std::string(n, 'x').data(), n);
            });
        });
    }

    HttpResponse send(HttpRequest req) {
        Inbox<HttpResponse> inbox;
        client.send(std::move(req), [&, caller = std::this_thread::get_id()](HttpResponse r) {
            EXPECT_NE(std::this_thread::get_id(), caller) << "completed inside send()";
            inbox.put(std::move(r));
        });
        EXPECT_TRUE(inbox.waitFor(1));
        return inbox.size() ? inbox.items().front() : HttpResponse{};
    }

    // Every callback in order, once the completion arrived. `accept` answers
    // each chunk and may use `task`.
    std::vector<Event> stream(HttpRequest req, std::function<bool()> accept = {}) {
        Inbox<Event> events;
        Inbox<bool> done;
        std::unique_lock lock(taskMutex);  // task is set before a chunk looks at it
        HttpStreamHandlers h;
        h.onResponse = [&](int status) { events.put({'r', status, {}, {}}); };
        h.onData = [&](const char* d, std::size_t n) {
            events.put({'d', 0, std::string(d, n), {}});
            std::lock_guard held(taskMutex);
            return accept ? accept() : true;
        };
        h.onComplete = [&](std::optional<HttpError> e) {
            events.put({'c', 0, {}, e});
            done.put(true);
        };
        task = client.stream(std::move(req), h);
        lock.unlock();
        EXPECT_TRUE(done.waitFor(1));
        EXPECT_FALSE(events.waitFor(events.size() + 1, 100ms)) << "a callback after completion";
        return events.items();
    }

    std::string body = std::string(3 << 20, 'b') + "end";
    std::mutex taskMutex;
    std::shared_ptr<HttpTask> task;
    Inbox<httplib::Request> seen;
    test::TestServer server;  // after what its handlers use, so it stops first
    CurlHttpClient client;
};

TEST_F(ClientTest, SendsExactlyTheHeadersGivenAndAnswersErrorStatuses) {
    struct Case {
        std::string method, path, body;
        Headers headers, extra;  // sent beyond the given ones and Host
        int status = 200;
    } cases[] = {
        {"GET", "/echo", "", {{"X-Probe", "1"}}, {}},
        {"POST", "/echo", std::string("a\0b\r\nc", 6), {}, {{"Content-Length", "6"}}},
        {"PUT", "/fail", "{}", {{"Content-Type", "a/j"}}, {{"Content-Length", "2"}}, 500},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.method + " " + c.path);
        HttpResponse r = send({c.method, server.url(c.path), c.headers, c.body});
        EXPECT_FALSE(r.error);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.body, "answer:" + c.body);
        ASSERT_TRUE(seen.waitFor(i + 1));
        httplib::Request got = seen.items().at(i);
        EXPECT_EQ(got.method + got.body, c.method + c.body);
        httplib::Headers expected(c.headers.begin(), c.headers.end());
        for (auto name : {"REMOTE_ADDR", "REMOTE_PORT", "LOCAL_ADDR", "LOCAL_PORT", "Host"})
            got.headers.erase(name);  // cpp-httplib's own, and what HTTP needs
        expected.insert(c.extra.begin(), c.extra.end());
        EXPECT_EQ(got.headers, expected);
    }
}

// Every way a send() ends, under a one-second idle time-out.
TEST_F(ClientTest, SendEndsWithTheRightOutcome) {
    struct Case {
        std::string url;
        std::optional<Kind> kind;  // none: success
        std::size_t body = 0, limit = 1 << 20;
        Duration deadline{};
        Headers headers{};
    } cases[] = {
        {"http://127.0.0.1:" + std::to_string(test::closedPort()) + "/", Kind::cannotConnect},
        {"ftp://127.0.0.1/x", Kind::badUrl},
        {"http://[::1/", Kind::badUrl},
        {server.url("/echo"), Kind::other, 0, 1, {}, {{"X-Bad", "1\r\nX-Injected: 2"}}},
        {server.url("/drop"), Kind::connectionLost},  // never a silently short body
        {server.url("/5000"), std::nullopt, 5000, 5000},
        {server.url("/5000"), Kind::tooLarge, 0, 4999},
        {server.url("/endless"), Kind::tooLarge},
        {server.url("/steady"), std::nullopt, 8},  // longer than the idle time-out in all
        {server.url("/long"), Kind::timedOut, 0, 1 << 20, seconds(1.5)},  // only the deadline
        {server.url("/stall"), Kind::timedOut},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url + " limit " + std::to_string(c.limit));
        HttpRequest req = get(c.url, c.headers);
        req.timeout = 1s;
        req.deadline = c.deadline;
        req.maxBodyBytes = c.limit;
        HttpResponse r = send(req);
        EXPECT_EQ(r.error ? std::optional(r.error->kind) : std::nullopt, c.kind);
        EXPECT_EQ(r.body.size(), c.body);
    }
    EXPECT_EQ(seen.size(), 0u);
}

TEST_F(ClientTest, StreamDeliversResponseThenEveryChunkThenCompletion) {
    struct Case {
        std::string path, range;
        int status;
        std::size_t from;
    } cases[] = {
        {"/file", "bytes=1000000-", 206, 1000000},
        {"/file", "", 200, 0},   // no header goes out unasked
        {"/moved", "", 200, 0},  // only the final response, not the redirect page
        {"/file", "bytes=999999999-", 416, body.size()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + c.range);
        auto events = stream(
            get(server.url(c.path), c.range.empty() ? Headers{} : Headers{{"Range", c.range}}));
        std::string order, all;
        for (const auto& e : events) order += e.type, all += e.bytes;
        ASSERT_EQ(order, "r" + std::string(std::max<std::size_t>(order.size(), 2) - 2, 'd') + "c");
        EXPECT_EQ(events.front().status, c.status);
        EXPECT_FALSE(events.back().error);
        EXPECT_TRUE(all == body.substr(c.from));
    }
}

TEST_F(ClientTest, DataCallbackStopsTheStreamAtOnce) {
    for (bool refuse : {true, false}) {
        int chunks = 0;
        auto events = stream(get(server.url("/endless")), [&] {
            if (++chunks == 2 && !refuse) task->cancel();
            return chunks < 2 || !refuse;
        });
        ASSERT_EQ(events.size(), 4u) << "data after the stop";
        EXPECT_EQ((events[3].error ? events[3].error->kind : Kind::other),
                  refuse ? Kind::aborted : Kind::cancelled);
    }
}

TEST_F(ClientTest, DestroyingTheClientCompletesWhatIsInFlightCancelled) {
    Inbox<Kind> kinds;
    auto note = [&](std::optional<HttpError> e) { kinds.put(e ? e->kind : Kind::other); };
    std::shared_ptr<HttpTask> survivor;
    {
        CurlHttpClient doomed;
        for (int i = 0; i < 3; ++i)
            doomed.send(get(server.url("/stall")), [&](HttpResponse r) { note(r.error); });
        // No response arrived, so none may be reported.
        survivor = doomed.stream(get(server.url("/stall")), {[&](int) { note({}); }, {}, note});
    }
    EXPECT_EQ(kinds.items(), std::vector<Kind>(4, Kind::cancelled)) << "missing completions";
    survivor->cancel();  // a task outliving its client stays safe to use

    auto owned = std::make_unique<CurlHttpClient>();
    Inbox<bool> destroyed;
    owned->send(get("ftp://x/"), [&](HttpResponse) {
        owned.reset();  // from its own completion
        destroyed.put(true);
    });
    EXPECT_TRUE(destroyed.waitFor(1));
}

TEST(CurlHttpClient, RedirectsFromHttpsStayOnHttps) {
    EXPECT_STREQ(redirectProtocolsFor("https://dl.example/a"), "https");
    EXPECT_STREQ(redirectProtocolsFor("HTTPS://dl.example/a"), "https");
    EXPECT_STREQ(redirectProtocolsFor("http://127.0.0.1:8765/"), "http,https");
}

}  // namespace
}  // namespace zavren
