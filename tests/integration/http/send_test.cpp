#include <gtest/gtest.h>

#include <atomic>
#include <random>

#include "integration/http/test_server.h"
#include "posix/curl_http_client.h"

namespace zavren {
namespace {

using namespace std::chrono_literals;
using testing::Inbox;
using testing::TestServer;
using Kind = HttpError::Kind;

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen() & 0xff);
    return s;
}

struct Seen {
    std::string method, path, body;
    httplib::Headers headers;
};

class SendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto record = [this](const httplib::Request& req, httplib::Response& res) {
            seen.put({req.method, req.path, req.body, req.headers});
            res.status = req.path == "/fail" ? 500 : 200;
            res.set_content(req.path == "/fail" ? "{\"error\":1}" : "answer:" + req.body,
                            "text/plain");
        };
        const char* recorded = "/(echo|fail|big)";
        server.server.Get(recorded, record);
        server.server.Post(recorded, record);
        server.server.Put(recorded, record);
        server.server.Get("/stall", [this](const httplib::Request&, httplib::Response& res) {
            stalled.put(true);
            server.waitForRelease();
            res.set_content("late", "text/plain");
        });
        server.server.Get("/trickle", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider(
                "text/plain", [](std::size_t offset, httplib::DataSink& sink) {
                    if (offset >= 12) {
                        sink.done();
                        return true;
                    }
                    std::this_thread::sleep_for(250ms);  // server pacing, not test synchronisation
                    sink.write("x", 1);
                    return true;
                });
        });
        server.server.Get("/drop", [](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(1000, "application/octet-stream",
                                     [](std::size_t, std::size_t, httplib::DataSink& sink) {
                                         sink.write(std::string(100, 'a').data(), 100);
                                         return false;
                                     });
        });
        server.start();
    }

    HttpResponse sendAndWait(HttpRequest req) {
        Inbox<HttpResponse> inbox;
        client.send(std::move(req), [&](HttpResponse r) { inbox.put(std::move(r)); });
        EXPECT_TRUE(inbox.waitFor(1));
        return inbox.size() ? inbox.items().front() : HttpResponse{};
    }

    // Declared before the server so its handlers never outlive them.
    Inbox<Seen> seen;
    Inbox<bool> stalled;
    TestServer server;
    CurlHttpClient client;
};

TEST_F(SendTest, SendsExactlyTheHeadersGiven) {
    struct Case {
        std::string name, method, body;
        std::vector<std::pair<std::string, std::string>> headers;
        std::vector<std::pair<std::string, std::string>> expected;  // beyond Host
        HttpRequest::CachePolicy cache = HttpRequest::CachePolicy::useProtocol;
    };
    std::string binary("a\0b\r\nc", 6);
    std::vector<Case> cases = {
        {"plain GET", "GET", "", {}, {}},
        // There is no local cache to bypass, so nothing is added.
        {"GET ignoring the local cache",
         "GET",
         "",
         {},
         {},
         HttpRequest::CachePolicy::reloadIgnoringLocalCache},
        {"GET with a header", "GET", "", {{"X-Probe", "1"}}, {{"X-Probe", "1"}}},
        {"POST without Content-Type", "POST", binary, {}, {{"Content-Length", "6"}}},
        {"POST with Content-Type",
         "POST",
         "{}",
         {{"Content-Type", "application/json"}},
         {{"Content-Type", "application/json"}, {"Content-Length", "2"}}},
        {"empty POST", "POST", "", {}, {{"Content-Length", "0"}}},
        {"PUT",
         "PUT",
         "xyz",
         {{"Accept", "text/plain"}},
         {{"Accept", "text/plain"}, {"Content-Length", "3"}}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        HttpRequest req;
        req.method = c.method;
        req.url = server.url("/echo");
        req.body = c.body;
        req.headers = c.headers;
        req.cache = c.cache;
        HttpResponse r = sendAndWait(req);
        EXPECT_FALSE(r.error);
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body, "answer:" + c.body);

        ASSERT_TRUE(seen.waitFor(i + 1));
        Seen s = seen.items()[i];
        EXPECT_EQ(s.method, c.method);
        EXPECT_EQ(s.body, c.body);
        httplib::Headers h = s.headers;
        // cpp-httplib adds these two itself.
        h.erase("REMOTE_ADDR");
        h.erase("REMOTE_PORT");
        h.erase("LOCAL_ADDR");
        h.erase("LOCAL_PORT");
        EXPECT_EQ(h.count("Host"), 1u);
        h.erase("Host");
        std::vector<std::pair<std::string, std::string>> got(h.begin(), h.end());
        auto expected = c.expected;
        std::sort(got.begin(), got.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(got, expected);
    }
}

TEST_F(SendTest, ErrorStatusIsAnAnswerNotAnError) {
    HttpRequest req;
    req.url = server.url("/fail");
    HttpResponse r = sendAndWait(req);
    EXPECT_FALSE(r.error);
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.body, "{\"error\":1}");
}

TEST_F(SendTest, TransportFailuresCarryAKindAndChineseText) {
    struct Case {
        std::string name, url;
        std::vector<std::pair<std::string, std::string>> headers;
        Kind kind;
        std::string description;
    };
    std::vector<Case> cases = {
        {"nothing listens",
         "http://127.0.0.1:" + std::to_string(testing::closedPort()) + "/",
         {},
         Kind::cannotConnect,
         "无法连接到服务器"},
        {"unsupported scheme", "ftp://127.0.0.1/x", {}, Kind::badUrl, "网址无效"},
        {"garbage URL", "http://[::1/", {}, Kind::badUrl, "网址无效"},
        {"header smuggling a line break",
         server.url("/echo"),
         {{"X-Bad", "1\r\nX-Injected: 2"}},
         Kind::other,
         "请求无效"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HttpRequest req;
        req.url = c.url;
        req.headers = c.headers;
        HttpResponse r = sendAndWait(req);
        ASSERT_TRUE(r.error);
        EXPECT_EQ(r.error->kind, c.kind);
        EXPECT_EQ(r.error->description, c.description);
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.body.empty());
    }
    EXPECT_EQ(seen.size(), 0u) << "a refused request must never reach the server";
}

TEST_F(SendTest, CompletionsRunOnTheClientThreadNeverInsideSend) {
    std::atomic<bool> insideSend{false};
    Inbox<std::pair<bool, std::thread::id>> inbox;
    for (std::string url : {std::string("ftp://x/"), server.url("/echo"),
                            "http://127.0.0.1:" + std::to_string(testing::closedPort()) + "/"}) {
        HttpRequest req;
        req.url = url;
        insideSend = true;
        client.send(req, [&](HttpResponse) {
            inbox.put({insideSend.load(), std::this_thread::get_id()});
        });
        insideSend = false;
    }
    ASSERT_TRUE(inbox.waitFor(3));
    for (auto [inside, id] : inbox.items()) {
        EXPECT_NE(id, std::this_thread::get_id());
        (void)inside;  // may be true only by a race; the thread id is what proves it
    }
}

TEST_F(SendTest, LargeBodiesBothWays) {
    const std::string upload = randomBytes(6 * 1024 * 1024 + 17, 7);
    HttpRequest req;
    req.method = "POST";
    req.url = server.url("/big");
    req.body = upload;
    HttpResponse r = sendAndWait(req);
    ASSERT_FALSE(r.error) << r.error->description;
    ASSERT_TRUE(seen.waitFor(1));
    EXPECT_TRUE(seen.items()[0].body == upload);
    EXPECT_TRUE(r.body == "answer:" + upload);
}

TEST_F(SendTest, IdleTimeoutCutsAStalledServer) {
    HttpRequest req;
    req.url = server.url("/stall");
    req.timeout = 1s;
    auto begin = std::chrono::steady_clock::now();
    HttpResponse r = sendAndWait(req);
    auto took = std::chrono::steady_clock::now() - begin;
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->kind, Kind::timedOut);
    EXPECT_EQ(r.error->description, "请求超时");
    EXPECT_GE(took, 900ms) << "fired before the server had been idle for the time-out";
}

TEST_F(SendTest, SteadyTrickleLongerThanTheTimeoutIsNotCut) {
    HttpRequest req;
    req.url = server.url("/trickle");
    req.timeout = 1s;  // the whole answer takes three
    HttpResponse r = sendAndWait(req);
    EXPECT_FALSE(r.error) << r.error->description;
    EXPECT_EQ(r.body, std::string(12, 'x'));
}

TEST_F(SendTest, ConnectionDroppedMidBodyIsReportedNotTruncatedSilently) {
    HttpRequest req;
    req.url = server.url("/drop");
    HttpResponse r = sendAndWait(req);
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->kind, Kind::connectionLost);
    EXPECT_EQ(r.error->description, "网络连接已中断");
    EXPECT_TRUE(r.body.empty());
}

TEST_F(SendTest, CancelFromAnotherThreadEndsWithCancelled) {
    Inbox<HttpResponse> inbox;
    HttpRequest req;
    req.url = server.url("/stall");
    auto task = client.send(req, [&](HttpResponse r) { inbox.put(std::move(r)); });
    ASSERT_TRUE(stalled.waitFor(1));
    std::thread([task] { task->cancel(); }).join();
    ASSERT_TRUE(inbox.waitFor(1));
    ASSERT_TRUE(inbox.items()[0].error);
    EXPECT_EQ(inbox.items()[0].error->kind, Kind::cancelled);
    EXPECT_EQ(inbox.items()[0].error->description, "已取消");
    task->cancel();  // a second cancel is harmless
    EXPECT_FALSE(inbox.waitFor(2, 200ms)) << "completion delivered twice";
}

TEST(CurlHttpClientLifetime, DestroyingWithTransfersInFlightCompletesThemCancelled) {
    Inbox<bool> stalled;
    TestServer server;
    server.server.Get("/stall", [&](const httplib::Request&, httplib::Response& res) {
        stalled.put(true);
        server.waitForRelease();
        res.set_content("late", "text/plain");
    });
    server.start();
    Inbox<Kind> kinds;
    std::shared_ptr<HttpTask> survivor;
    {
        CurlHttpClient client;
        HttpRequest req;
        req.url = server.url("/stall");
        for (int i = 0; i < 3; ++i)
            client.send(req,
                        [&](HttpResponse r) { kinds.put(r.error ? r.error->kind : Kind::other); });
        HttpStreamHandlers h;
        h.onComplete = [&](std::optional<HttpError> e) { kinds.put(e ? e->kind : Kind::other); };
        survivor = client.stream(req, h);
        ASSERT_TRUE(stalled.waitFor(4));
    }
    // Every completion arrived before the destructor returned.
    ASSERT_EQ(kinds.size(), 4u);
    for (Kind k : kinds.items()) EXPECT_EQ(k, Kind::cancelled);
    survivor->cancel();  // a task outliving its client stays safe to use
}

TEST(CurlHttpClientLifetime, ClientMayBeDestroyedFromItsOwnCompletion) {
    auto client = std::make_unique<CurlHttpClient>();
    Inbox<bool> inbox;
    HttpRequest req;
    req.url = "ftp://x/";
    CurlHttpClient* raw = client.get();
    std::unique_ptr<CurlHttpClient>* holder = &client;
    raw->send(req, [&, holder](HttpResponse) {
        holder->reset();
        inbox.put(true);
    });
    ASSERT_TRUE(inbox.waitFor(1));
}

}  // namespace
}  // namespace zavren
