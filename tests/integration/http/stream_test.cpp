#include <gtest/gtest.h>

#include <atomic>

#include "integration/http/test_server.h"
#include "posix/curl_http_client.h"

namespace zavren {
namespace {

using namespace std::chrono_literals;
using testing::Inbox;
using testing::TestServer;
using Kind = HttpError::Kind;

// One callback as the client delivered it.
struct Event {
    enum Type { response, data, complete } type;
    int status = 0;
    std::string bytes;
    std::optional<HttpError> error;
};

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return s;
}

class StreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server.server.Get("/chunks", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider(
                "application/octet-stream", [this](std::size_t offset, httplib::DataSink& sink) {
                    if (offset >= body.size()) {
                        sink.done();
                        return true;
                    }
                    std::size_t n = std::min<std::size_t>(65536, body.size() - offset);
                    sink.write(body.data() + offset, n);
                    return true;
                });
        });
        server.server.Get("/file", [this](const httplib::Request& req, httplib::Response& res) {
            ranges.put(req.get_header_value("Range"));
            std::string range = req.get_header_value("Range");
            if (range.rfind("bytes=", 0) == 0 && range.back() == '-') {
                std::size_t from = std::stoul(range.substr(6));
                if (from >= body.size()) {
                    res.status = 416;
                    return;
                }
            }
            // cpp-httplib cuts the range and answers 206 itself.
            res.set_content(body, "application/octet-stream");
        });
        server.server.Get("/moved", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/file", 302);
            res.set_content("<html>moved</html>", "text/html");
        });
        server.server.Get("/endless", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider(
                "text/plain", [this](std::size_t, httplib::DataSink& sink) {
                    std::this_thread::sleep_for(5ms);
                    return !server.released() && sink.write("0123456789", 10);
                });
        });
        server.server.Get("/stall-headers",
                          [this](const httplib::Request&, httplib::Response& res) {
                              server.waitForRelease();
                              res.status = 204;
                          });
        server.server.Get(
            "/empty", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
        server.start();
    }

    // Streams url and returns every callback in order, once completion arrived.
    std::vector<Event> streamAll(HttpRequest req, std::function<bool()> accept = {}) {
        Inbox<Event> events;
        HttpStreamHandlers h;
        h.onResponse = [&](int status) { events.put({Event::response, status, {}, {}}); };
        h.onData = [&](const char* d, std::size_t n) {
            events.put({Event::data, 0, std::string(d, n), {}});
            return accept ? accept() : true;
        };
        h.onComplete = [&](std::optional<HttpError> e) { events.put({Event::complete, 0, {}, e}); };
        client.stream(std::move(req), h);
        for (std::size_t seen = 0;;) {
            if (!events.waitFor(seen + 1)) {
                ADD_FAILURE() << "no completion";
                break;
            }
            seen = events.size();
            if (events.items().back().type == Event::complete) break;
        }
        // Nothing may follow the completion.
        EXPECT_FALSE(events.waitFor(events.size() + 1, 100ms));
        return events.items();
    }

    static std::string joined(const std::vector<Event>& events) {
        std::string all;
        for (const auto& e : events)
            if (e.type == Event::data) all += e.bytes;
        return all;
    }

    static void expectShape(const std::vector<Event>& events, int status) {
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events.front().type, Event::response);
        EXPECT_EQ(events.front().status, status);
        EXPECT_EQ(events.back().type, Event::complete);
        for (std::size_t i = 1; i + 1 < events.size(); ++i)
            EXPECT_EQ(events[i].type, Event::data) << "callback " << i << " out of order";
    }

    // Declared before the server so its handlers never outlive them.
    std::string body = pattern(3 * 1024 * 1024 + 5);
    Inbox<std::string> ranges;
    TestServer server;
    CurlHttpClient client;
};

TEST_F(StreamTest, ResponseThenEveryChunkInOrderThenCompletion) {
    using Headers = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        std::string path;
        Headers headers;
        int status;
        std::size_t from;
    } cases[] = {
        {"/chunks", {}, 200, 0},
        {"/file", {{"Range", "bytes=1000000-"}}, 206, 1000000},
        {"/file", {}, 200, 0},   // no header goes out unasked
        {"/moved", {}, 200, 0},  // only the final response, not the redirect page
        {"/file", {{"Range", "bytes=999999999-"}}, 416, body.size()},  // no body
        {"/empty", {}, 204, body.size()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + std::to_string(c.status));
        HttpRequest req;
        req.url = server.url(c.path);
        req.headers = c.headers;
        auto events = streamAll(req);
        expectShape(events, c.status);
        EXPECT_FALSE(events.back().error);
        EXPECT_TRUE(joined(events) == body.substr(c.from));
        EXPECT_TRUE(c.from < body.size() || events.size() == 2u) << "data for an empty body";
    }
    EXPECT_EQ(ranges.items(),
              (std::vector<std::string>{"bytes=1000000-", "", "", "bytes=999999999-"}));
}

TEST_F(StreamTest, RefusingAChunkAbortsTheTransfer) {
    HttpRequest req;
    req.url = server.url("/chunks");
    auto events = streamAll(req, [] { return false; });
    ASSERT_EQ(events.size(), 3u) << "data kept coming after it was refused";
    EXPECT_EQ(events[1].type, Event::data);
    ASSERT_TRUE(events[2].error);
    EXPECT_EQ(events[2].error->kind, Kind::aborted);
}

TEST_F(StreamTest, TransportErrorsReachTheCompletion) {
    HttpRequest req;
    req.url = "http://127.0.0.1:" + std::to_string(testing::closedPort()) + "/x";
    auto events = streamAll(req);
    ASSERT_EQ(events.size(), 1u) << "no response arrived, so none may be reported";
    ASSERT_TRUE(events[0].error);
    EXPECT_EQ(events[0].error->kind, Kind::cannotConnect);

    req.url = server.url("/stall-headers");
    req.timeout = 1s;
    events = streamAll(req);
    ASSERT_EQ(events.size(), 1u);
    ASSERT_TRUE(events[0].error);
    EXPECT_EQ(events[0].error->kind, Kind::timedOut);
}

TEST_F(StreamTest, CancelFromAnotherThreadStopsCallbacksAtOnce) {
    std::mutex mutex;
    std::size_t chunks = 0;
    bool cancelReturned = false, dataAfterCancel = false;
    Inbox<std::optional<HttpError>> completions;
    Inbox<bool> firstData;
    HttpStreamHandlers h;
    h.onData = [&](const char*, std::size_t) {
        std::lock_guard lock(mutex);
        if (cancelReturned) dataAfterCancel = true;
        if (++chunks == 3) firstData.put(true);
        return true;
    };
    h.onComplete = [&](std::optional<HttpError> e) { completions.put(e); };
    HttpRequest req;
    req.url = server.url("/endless");
    auto task = client.stream(req, h);
    ASSERT_TRUE(firstData.waitFor(1));
    std::thread([&] {
        task->cancel();
        std::lock_guard lock(mutex);
        cancelReturned = true;
    }).join();
    ASSERT_TRUE(completions.waitFor(1));
    ASSERT_TRUE(completions.items()[0]);
    EXPECT_EQ(completions.items()[0]->kind, Kind::cancelled);
    EXPECT_FALSE(completions.waitFor(2, 200ms));
    std::lock_guard lock(mutex);
    EXPECT_FALSE(dataAfterCancel);
}

TEST_F(StreamTest, CancelInsideTheDataCallback) {
    std::shared_ptr<HttpTask> task;
    std::mutex mutex;
    std::size_t chunks = 0;
    Inbox<std::optional<HttpError>> completions;
    HttpStreamHandlers h;
    h.onData = [&](const char*, std::size_t) {
        std::lock_guard lock(mutex);
        if (++chunks == 2) task->cancel();
        return true;
    };
    h.onComplete = [&](std::optional<HttpError> e) { completions.put(e); };
    HttpRequest req;
    req.url = server.url("/endless");
    {
        std::lock_guard lock(mutex);  // task is set before the first chunk looks at it
        task = client.stream(req, h);
    }
    ASSERT_TRUE(completions.waitFor(1));
    ASSERT_TRUE(completions.items()[0]);
    EXPECT_EQ(completions.items()[0]->kind, Kind::cancelled);
    std::lock_guard lock(mutex);
    EXPECT_EQ(chunks, 2u);
}

}  // namespace
}  // namespace zavren
