#include "wayland/wl_pasteboard.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <sstream>
#include <thread>

namespace zavren {

namespace {

using std::chrono::milliseconds;

// Another application owns what it offers and may send without end, or never.
constexpr std::size_t MAX_FORMAT_BYTES = 16u << 20;
constexpr std::size_t MAX_TYPE_LIST = 64u << 10;
constexpr milliseconds READ_TIMEOUT{1000};
constexpr milliseconds WRITE_TIMEOUT{1000};
// Longer than the paste sequence waits for the selection and then for the fetch;
// past it the offer was simply not read, and the sequence's next set ends it.
constexpr milliseconds SELECTION_TIMEOUT{5000};
constexpr milliseconds OFFER_LIFETIME{10000};
const std::string TEXT_OFFER = "text/plain;charset=utf-8";

// Whether fd reached end of file within the limit; what comes before is dropped.
bool endsWithin(int fd, milliseconds limit) {
    if (fd < 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left.count()));
        if (n < 0 && errno != EINTR) return false;
        if (n <= 0) continue;
        char buf[4096];
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got == 0) return true;
        if (got < 0 && errno != EINTR && errno != EAGAIN) return false;
    }
}

RunResult wlClipboard(ProcessLauncher& processes, std::string exec, std::vector<std::string> args,
                      const RunOptions& options) {
    return processes.run({std::move(exec), std::move(args), processes.environment()}, options);
}

}  // namespace

WlPasteboard::WlPasteboard(Dispatcher& dispatcher, ProcessLauncher& processes)
    : processes_(processes) {
    shared_->dispatcher = &dispatcher;
}

WlPasteboard::~WlPasteboard() {
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->dispatcher = nullptr;
}

std::vector<std::string> WlPasteboard::types() {
    auto r = wlClipboard(processes_, "wl-paste", {"--list-types"},
                         {.maxOutput = MAX_TYPE_LIST, .timeout = READ_TIMEOUT});
    std::vector<std::string> out;
    if (r.status != 0 || r.cutShort) return out;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) out.push_back(line);
    }
    return out;
}

std::optional<std::string> WlPasteboard::data(const std::string& type) {
    auto r = wlClipboard(processes_, "wl-paste", {"--no-newline", "--type", type},
                         {.maxOutput = MAX_FORMAT_BYTES, .timeout = READ_TIMEOUT});
    // Cut short means a part of the content: restoring that would be worse than none.
    if (r.status != 0 || r.cutShort) return std::nullopt;
    return r.output;
}

void WlPasteboard::set(const Formats& formats, Content content) {
    const unsigned generation = ++shared_->generation;
    if (formats.empty()) {
        wlClipboard(processes_, "wl-copy", {"--clear"}, {.timeout = WRITE_TIMEOUT});
        return;
    }
    auto chosen = formats.find(PASTEBOARD_TEXT_TYPE);
    if (chosen == formats.end()) {
        chosen = formats.begin();
        for (auto it = formats.begin(); it != formats.end(); ++it) {
            if (it->first.starts_with("text/plain")) chosen = it;
        }
    }
    const std::string type = chosen->first == PASTEBOARD_TEXT_TYPE ? TEXT_OFFER : chosen->first;
    if (content != Content::pasted) {
        wlClipboard(processes_, "wl-copy", {"--type", type},
                    {.input = chosen->second, .timeout = WRITE_TIMEOUT});
        return;
    }
    // wl-copy leaves a daemon behind once it holds the selection: the exit of the
    // one we started says the transcript is on offer, and the end of the daemon's
    // stderr that the offer ended, read once (--paste-once) or replaced. Only the
    // newest offer counts.
    std::thread([&processes = processes_, shared = shared_, generation, type,
                 text = chosen->second] {
        auto r = wlClipboard(processes, "wl-copy", {"--paste-once", "--type", type},
                             {.input = text, .timeout = SELECTION_TIMEOUT, .daemonStderr = true});
        const bool failed = !r.launched || r.status != 0 || r.cutShort;
        report(shared, generation, failed ? Notice::failed : Notice::offered, text);
        if (!failed && endsWithin(r.daemonStderr, OFFER_LIFETIME))
            report(shared, generation, Notice::fetched, text);
        if (r.daemonStderr >= 0) ::close(r.daemonStderr);
    }).detach();
}

void WlPasteboard::report(const std::shared_ptr<Shared>& shared, unsigned generation, Notice notice,
                          const std::string& text) {
    std::lock_guard<std::mutex> hold(shared->lock);
    if (!shared->dispatcher) return;
    shared->dispatcher->post([shared, generation, notice, text] {
        // An offer we replaced since is no longer ours to report on.
        if (shared->generation != generation) return;
        if (notice == Notice::failed && shared->copyFailed) shared->copyFailed(text);
        if (notice == Notice::offered && shared->offered) shared->offered();
        if (notice == Notice::fetched && shared->fetched) shared->fetched();
    });
}

void WlPasteboard::onOffered(std::function<void()> handler) {
    shared_->offered = std::move(handler);
}

void WlPasteboard::onFetched(std::function<void()> handler) {
    shared_->fetched = std::move(handler);
}

}  // namespace zavren
