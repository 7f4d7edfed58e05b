#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/dispatch.h"
#include "platform/pasteboard.h"
#include "platform/process.h"

namespace zavren {

// The Wayland clipboard through wl-clipboard: Qt can set it only while one of
// our windows has the keyboard focus, and the paste happens while another has.
// One wl-copy offer carries one type, so a restore puts back the text when there
// was text, else the first other format. Without a clipboard-manager protocol
// wl-copy must win the keyboard focus before it holds the selection, so a
// transcript is on offer only some time after set(). It is offered once
// (--paste-once): the offer ending is the only sign of a read, and it cannot tell
// the target from a clipboard manager. A transcript left for the user is offered
// for as long as it stays, so it can be pasted more than once, and its reads go
// unseen: the user's clipboard comes back when its time is up.
class WlPasteboard : public Pasteboard {
  public:
    // processes runs wl-copy and wl-paste, also on offers' threads: it must
    // live as long as the program.
    WlPasteboard(Dispatcher& dispatcher, ProcessLauncher& processes);
    ~WlPasteboard() override;
    WlPasteboard(const WlPasteboard&) = delete;
    WlPasteboard& operator=(const WlPasteboard&) = delete;
    std::vector<std::string> types() override;
    std::optional<std::string> data(const std::string& type) override;
    void set(const Formats& formats, Content content) override;
    void onFetched(std::function<void()> handler) override;
    bool offersLater() override { return true; }
    void onOffered(std::function<void()> handler) override;
    // A transcript wl-copy could not offer (no seat, not installed): the caller must
    // show the text itself, or it is lost. Runs on the main thread.
    void onCopyFailed(std::function<void(const std::string& text)> handler) {
        shared_->copyFailed = std::move(handler);
    }

  private:
    struct Shared {
        std::atomic<unsigned> generation{0};
        std::function<void()> fetched;                       // main thread only
        std::function<void()> offered;                       // main thread only
        std::function<void(const std::string&)> copyFailed;  // main thread only
        // An offer's thread may outlive us; it posts only while we (and so the
        // dispatcher, which outlives us) exist.
        std::mutex lock;
        Dispatcher* dispatcher = nullptr;
    };
    enum class Notice { failed, offered, fetched };
    static void report(const std::shared_ptr<Shared>& shared, unsigned generation, Notice notice,
                       const std::string& text);
    ProcessLauncher& processes_;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

}  // namespace zavren
