#include "posix/curl_http_client.h"

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "posix/http_errors.h"
#include "shared/trace.h"

namespace zavren {

namespace {

using Clock = std::chrono::steady_clock;

constexpr long MAX_REDIRECTS = 10;
// Large reads keep a 1 GB download from costing a callback per 16 KB.
constexpr long RECEIVE_BUFFER = 256 * 1024;
// Upper bound on one wait of the loop while transfers run; with none the loop
// sleeps until woken, so an idle client costs no wake-ups.
constexpr int MAX_WAIT_MS = 1000;
constexpr int IDLE_WAIT_MS = 3600 * 1000;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool hasControlBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// Loopback is always reached directly: a desktop proxy must never see the
// engine traffic, and most proxies could not reach our 127.0.0.1 anyway.
std::string noProxyList() {
    const char* env = std::getenv("NO_PROXY");
    if (!env || !*env) env = std::getenv("no_proxy");
    std::string list = env ? env : "";
    if (list == "*") return list;
    if (!list.empty()) list += ",";
    return list + "127.0.0.1,localhost,::1";
}

}  // namespace

const char* redirectProtocolsFor(std::string_view url) {
    // An https address must never be downgraded to plain text by a redirect.
    return startsWithIgnoringCase(url, "https:") ? "https" : "http,https";
}

struct Transfer {
    HttpRequest request;
    bool streamed = false;
    std::function<void(HttpResponse)> done;
    HttpStreamHandlers handlers;

    // Owned and touched by the HTTP thread only.
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    std::string body;
    bool inHeaders = false;
    bool skipping = false;  // an interim response or a redirect being followed
    bool sawLocation = false;
    bool responseReported = false;
    bool aborted = false;
    bool tooLarge = false;
    bool idleExpired = false;
    Clock::time_point lastActivity{};
    curl_off_t movedBytes = 0;

    // Serialises callbacks against cancel() so that no callback starts after
    // cancel() returns; recursive because callbacks may cancel themselves.
    std::recursive_mutex delivery;
    std::atomic<bool> cancelled{false};
    bool finished = false;  // guarded by delivery

    ~Transfer() {
        if (headerList) curl_slist_free_all(headerList);
        if (easy) curl_easy_cleanup(easy);
    }
};

struct CurlHttpClient::Impl {
    std::mutex mutex;
    CURLM* multi = nullptr;  // guarded by mutex for wake(); used freely on the HTTP thread
    std::vector<std::shared_ptr<Transfer>> pending;
    bool stopping = false;
    std::string noProxy = noProxyList();

    std::vector<std::shared_ptr<Transfer>> active;  // HTTP thread only

    void wake() {
        std::lock_guard lock(mutex);
        if (multi) curl_multi_wakeup(multi);
    }

    void submit(const std::shared_ptr<Transfer>& t) {
        std::lock_guard lock(mutex);
        pending.push_back(t);
        if (multi) curl_multi_wakeup(multi);
    }

    void run();
    void start(const std::shared_ptr<Transfer>& t);
    CURLcode configure(Transfer& t);
    void finish(const std::shared_ptr<Transfer>& t, CURLcode result);
    int nextWaitMs() const;
};

namespace {

struct CurlTask : HttpTask {
    std::weak_ptr<CurlHttpClient::Impl> impl;
    std::shared_ptr<Transfer> transfer;

    void cancel() override {
        {
            std::lock_guard lock(transfer->delivery);
            if (transfer->finished || transfer->cancelled) return;
            transfer->cancelled = true;
        }
        if (auto i = impl.lock()) i->wake();
    }
};

void touch(Transfer& t) {
    t.lastActivity = Clock::now();
}

// Reports the final response once, before any data.
void reportResponse(Transfer& t) {
    if (t.responseReported) return;
    t.responseReported = true;
    long code = 0;
    curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &code);
    if (t.streamed && t.handlers.onResponse) t.handlers.onResponse(static_cast<int>(code));
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    size_t n = size * count;
    touch(t);
    if (t.cancelled) return 0;
    std::string_view line(data, n);
    if (startsWithIgnoringCase(line, "HTTP/")) {
        t.inHeaders = true;
        t.sawLocation = false;
        t.skipping = false;
        return n;
    }
    if (!t.inHeaders) return n;  // trailers of a chunked body
    if (startsWithIgnoringCase(line, "location:")) t.sawLocation = true;
    if (line != "\r\n" && line != "\n") return n;

    t.inHeaders = false;
    long code = 0;
    curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &code);
    bool followed = code >= 300 && code < 400 && code != 304 && t.sawLocation;
    t.skipping = code < 200 || followed;
    if (t.skipping) return n;
    t.body.clear();
    std::lock_guard lock(t.delivery);
    if (t.cancelled) return 0;
    reportResponse(t);
    return n;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    size_t n = size * count;
    touch(t);
    if (t.cancelled) return 0;
    if (t.skipping) return n;
    if (!t.streamed) {
        // Stop at once: a hostile server must not make us buffer without end.
        if (n > t.request.maxBodyBytes - t.body.size()) {
            t.tooLarge = true;
            return 0;
        }
        t.body.append(data, n);
        return n;
    }
    std::lock_guard lock(t.delivery);
    if (t.cancelled) return 0;
    reportResponse(t);
    if (t.handlers.onData && !t.handlers.onData(data, n)) {
        t.aborted = true;
        return 0;
    }
    return n;
}

int onProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
    auto& t = *static_cast<Transfer*>(user);
    if (dlnow + ulnow != t.movedBytes) {
        t.movedBytes = dlnow + ulnow;
        touch(t);
    }
    return t.cancelled ? 1 : 0;
}

int onDebug(CURL*, curl_infotype type, char*, size_t size, void*) {
    if (type == CURLINFO_HEADER_OUT)
        trace::mark("http-header-out", static_cast<long long>(size));
    else if (type == CURLINFO_DATA_OUT)
        trace::mark("http-data-out", static_cast<long long>(size));
    return 0;
}

bool setBody(CURL* easy, const std::string& body) {
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    return curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data()) == CURLE_OK;
}

}  // namespace

CURLcode CurlHttpClient::Impl::configure(Transfer& t) {
    const HttpRequest& r = t.request;
    CURL* e = t.easy;
    curl_easy_setopt(e, CURLOPT_PRIVATE, &t);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    if (curl_easy_setopt(e, CURLOPT_URL, r.url.c_str()) != CURLE_OK) return CURLE_URL_MALFORMAT;
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, redirectProtocolsFor(r.url));
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, MAX_REDIRECTS);
    curl_easy_setopt(e, CURLOPT_NOPROXY, noProxy.c_str());
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, RECEIVE_BUFFER);

    long timeoutMs = std::max<long>(
        1, static_cast<long>(
               std::chrono::duration_cast<std::chrono::milliseconds>(r.timeout).count()));
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    if (r.deadline > Duration::zero()) {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(r.deadline).count();
        curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, std::max<long>(1, static_cast<long>(ms)));
    }

    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    if (trace::enabled()) {
        curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, onDebug);
        curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
    }

    bool hasBody = false;
    if (r.method == "GET" && r.body.empty()) {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else if (r.method == "HEAD" && r.body.empty()) {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else {
        if (r.method.empty() || hasControlBreak(r.method) ||
            r.method.find(' ') != std::string::npos)
            return CURLE_BAD_FUNCTION_ARGUMENT;
        hasBody = setBody(e, r.body);
        if (r.method != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.method.c_str());
    }

    auto given = [&](std::string_view name) {
        return std::any_of(r.headers.begin(), r.headers.end(),
                           [&](const auto& h) { return equalsIgnoringCase(h.first, name); });
    };
    curl_slist* list = nullptr;
    for (const auto& [name, value] : r.headers) {
        if (name.empty() || hasControlBreak(name) || hasControlBreak(value) ||
            name.find(':') != std::string::npos)
            return CURLE_BAD_FUNCTION_ARGUMENT;
        // curl drops "Name:" with no value; "Name;" is its way to send it empty.
        std::string line = value.empty() ? name + ";" : name + ": " + value;
        list = curl_slist_append(list, line.c_str());
    }
    if (!given("Accept")) list = curl_slist_append(list, "Accept:");
    if (!given("Expect")) list = curl_slist_append(list, "Expect:");
    if (hasBody && !given("Content-Type")) list = curl_slist_append(list, "Content-Type:");
    t.headerList = list;
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, list);
    return CURLE_OK;
}

void CurlHttpClient::Impl::start(const std::shared_ptr<Transfer>& t) {
    t->easy = curl_easy_init();
    touch(*t);
    if (t->cancelled || !t->easy) {
        finish(t, CURLE_FAILED_INIT);
        return;
    }
    if (CURLcode bad = configure(*t); bad != CURLE_OK) {
        finish(t, bad);
        return;
    }
    if (curl_multi_add_handle(multi, t->easy) != CURLM_OK) {
        finish(t, CURLE_FAILED_INIT);
        return;
    }
    active.push_back(t);
    trace::mark("http-start");
}

void CurlHttpClient::Impl::finish(const std::shared_ptr<Transfer>& t, CURLcode result) {
    long code = 0;
    if (t->easy) {
        curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &code);
        curl_multi_remove_handle(multi, t->easy);
        curl_easy_cleanup(t->easy);
        t->easy = nullptr;
    }
    active.erase(std::remove(active.begin(), active.end(), t), active.end());

    std::optional<HttpError> error;
    if (t->cancelled)
        error = httpError(HttpError::Kind::cancelled);
    else if (t->idleExpired)
        error = httpError(HttpError::Kind::timedOut);
    else if (t->aborted)
        error = httpError(HttpError::Kind::aborted);
    else if (t->tooLarge)
        error = httpError(HttpError::Kind::tooLarge);
    else if (result != CURLE_OK)
        error = httpErrorFor(result);

    trace::mark("http-done", code);
    std::lock_guard lock(t->delivery);
    t->finished = true;
    if (t->streamed) {
        if (!error && !t->responseReported && code > 0 && t->handlers.onResponse) {
            t->responseReported = true;
            t->handlers.onResponse(static_cast<int>(code));
        }
        if (t->handlers.onComplete) t->handlers.onComplete(error);
    } else if (t->done) {
        HttpResponse response;
        response.status = static_cast<int>(code);
        // A body cut short by an error is never handed on as if it were whole.
        if (!error) response.body = std::move(t->body);
        response.error = error;
        t->done(std::move(response));
    }
    // Release the caller's closures (and what they capture) on this thread, now.
    t->done = nullptr;
    t->handlers = {};
}

int CurlHttpClient::Impl::nextWaitMs() const {
    if (active.empty()) return IDLE_WAIT_MS;
    auto now = Clock::now();
    auto wait = std::chrono::milliseconds(MAX_WAIT_MS);
    for (const auto& t : active) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t->lastActivity +
                                                                          t->request.timeout - now);
        wait = std::min(wait, left + std::chrono::milliseconds(1));
    }
    return static_cast<int>(std::max<long>(0, wait.count()));
}

void CurlHttpClient::Impl::run() {
    for (;;) {
        std::vector<std::shared_ptr<Transfer>> fresh;
        bool stop;
        {
            std::lock_guard lock(mutex);
            fresh.swap(pending);
            stop = stopping;
        }
        if (stop) {
            // Everything still here ends cancelled; callbacks may submit more,
            // so keep draining until nothing is left.
            for (auto& t : active) t->cancelled = true;
            for (auto& t : fresh) t->cancelled = true;
            auto running = active;
            for (auto& t : running) finish(t, CURLE_OK);
            for (auto& t : fresh) finish(t, CURLE_OK);
            std::lock_guard lock(mutex);
            if (pending.empty()) {
                curl_multi_cleanup(multi);
                multi = nullptr;
                return;
            }
            continue;
        }
        for (auto& t : fresh) start(t);

        int running = 0;
        curl_multi_perform(multi, &running);
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg != CURLMSG_DONE) continue;
            Transfer* raw = nullptr;
            curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &raw);
            CURLcode result = msg->data.result;
            auto it = std::find_if(active.begin(), active.end(),
                                   [&](const auto& t) { return t.get() == raw; });
            if (it != active.end()) finish(std::shared_ptr<Transfer>(*it), result);
        }

        auto now = Clock::now();
        auto snapshot = active;
        for (auto& t : snapshot) {
            if (t->cancelled) {
                finish(t, CURLE_OK);
            } else if (now - t->lastActivity >= t->request.timeout) {
                t->idleExpired = true;
                finish(t, CURLE_OPERATION_TIMEDOUT);
            }
        }

        curl_multi_poll(multi, nullptr, 0, nextWaitMs(), nullptr);
    }
}

CurlHttpClient::CurlHttpClient() : impl_(std::make_shared<Impl>()) {
    static std::once_flag globalInit;
    std::call_once(globalInit, [] {
        // OpenSSL's error strings cost some 0.6 MB resident and we never show
        // them (failures reach the user through curl's result codes). Settling
        // this before curl initialises OpenSSL keeps them unloaded.
        OPENSSL_init_ssl(OPENSSL_INIT_NO_LOAD_SSL_STRINGS | OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS,
                         nullptr);
        curl_global_init(CURL_GLOBAL_DEFAULT);
    });
    impl_->multi = curl_multi_init();
    std::thread thread([impl = impl_] { impl->run(); });
    thread_ = std::move(thread);
}

CurlHttpClient::~CurlHttpClient() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
        if (impl_->multi) curl_multi_wakeup(impl_->multi);
    }
    // Destroyed from one of its own callbacks: the loop finishes by itself
    // once that callback returns.
    if (std::this_thread::get_id() == thread_.get_id())
        thread_.detach();
    else
        thread_.join();
}

std::shared_ptr<HttpTask> CurlHttpClient::send(HttpRequest request,
                                               std::function<void(HttpResponse)> done) {
    trace::mark("http-send", static_cast<long long>(request.body.size()));
    auto t = std::make_shared<Transfer>();
    t->request = std::move(request);
    t->done = std::move(done);
    auto task = std::make_shared<CurlTask>();
    task->impl = impl_;
    task->transfer = t;
    impl_->submit(t);
    return task;
}

std::shared_ptr<HttpTask> CurlHttpClient::stream(HttpRequest request, HttpStreamHandlers handlers) {
    auto t = std::make_shared<Transfer>();
    t->request = std::move(request);
    t->streamed = true;
    t->handlers = std::move(handlers);
    auto task = std::make_shared<CurlTask>();
    task->impl = impl_;
    task->transfer = t;
    impl_->submit(t);
    return task;
}

}  // namespace zavren
