#include "wayland/wl_pasteboard.h"

#include <chrono>
#include <sstream>
#include <thread>

#include "wayland/child_command.h"

namespace zavren {

namespace {

using std::chrono::milliseconds;

// Another application owns what it offers and may send without end, or never.
constexpr std::size_t MAX_FORMAT_BYTES = 16u << 20;
constexpr std::size_t MAX_TYPE_LIST = 64u << 10;
constexpr milliseconds READ_TIMEOUT{1000};
constexpr milliseconds WRITE_TIMEOUT{1000};
// Longer than the paste sequence's own fallback, which restores (and so ends
// this offer) after 5 s.
constexpr milliseconds OFFER_LIFETIME{10000};
const std::string TEXT_OFFER = "text/plain;charset=utf-8";

}  // namespace

WlPasteboard::WlPasteboard(Dispatcher& dispatcher) {
    shared_->dispatcher = &dispatcher;
}

WlPasteboard::~WlPasteboard() {
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->dispatcher = nullptr;
}

std::vector<std::string> WlPasteboard::types() {
    auto r = runCommand({"wl-paste", "--list-types"}, "", MAX_TYPE_LIST, READ_TIMEOUT);
    std::vector<std::string> out;
    if (r.status != 0 || r.cutShort) return out;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) out.push_back(line);
    }
    return out;
}

std::optional<std::string> WlPasteboard::data(const std::string& type) {
    auto r = runCommand({"wl-paste", "--no-newline", "--type", type}, "", MAX_FORMAT_BYTES,
                        READ_TIMEOUT);
    // Cut short means a part of the content: restoring that would be worse than none.
    if (r.status != 0 || r.cutShort) return std::nullopt;
    return r.output;
}

void WlPasteboard::set(const Formats& formats, Content content) {
    const unsigned generation = ++shared_->generation;
    if (formats.empty()) {
        runCommand({"wl-copy", "--clear"}, "", 0, WRITE_TIMEOUT, false);
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
        runCommand({"wl-copy", "--type", type}, chosen->second, 0, WRITE_TIMEOUT, false);
        return;
    }
    // The offer stays in the foreground until it is read once or replaced; only
    // the end of the newest offer counts as the transcript's fetch.
    std::thread([shared = shared_, generation, type, text = chosen->second] {
        auto r = runCommand({"wl-copy", "--foreground", "--paste-once", "--type", type}, text, 0,
                            OFFER_LIFETIME, false);
        // Past its lifetime the offer was simply not read: that is no failure.
        if (r.cutShort) return;
        const bool failed = !r.launched || r.status != 0;
        std::lock_guard<std::mutex> hold(shared->lock);
        if (!shared->dispatcher) return;
        shared->dispatcher->post([shared, generation, failed, text] {
            // An offer we replaced since is no longer ours to report on.
            if (shared->generation != generation) return;
            if (failed && shared->copyFailed)
                shared->copyFailed(text);
            else if (!failed && shared->fetched)
                shared->fetched();
        });
    }).detach();
}

void WlPasteboard::onFetched(std::function<void()> handler) {
    shared_->fetched = std::move(handler);
}

}  // namespace zavren
