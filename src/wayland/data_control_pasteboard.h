#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/pasteboard.h"
#include "wayland/wl_connection.h"

struct zwlr_data_control_device_v1;
struct zwlr_data_control_manager_v1;
struct zwlr_data_control_offer_v1;
struct zwlr_data_control_source_v1;

namespace zavren {

// The formats a source offers: every text type a reader may ask for carries the
// text, and a hinted one (a transcript on its way) carries the hints that keep it
// out of clipboard histories. Bytes are shared: a big image is held once however often it is read.
using OfferedFormats = std::map<std::string, std::shared_ptr<const std::string>>;
OfferedFormats offeredFormats(const Pasteboard::Formats& formats, bool hinted);
bool isTextType(const std::string& type);

// The clipboard through the compositor's clipboard-manager protocol: every
// format of the current owner can be read and every one put back, without the
// focus Qt's clipboard needs. Where the compositor lacks the protocol (GNOME),
// or the connection broke, each call goes to the fallback instead.
class DataControlPasteboard : public Pasteboard, public WaylandConnection::Client {
  public:
    explicit DataControlPasteboard(Pasteboard& fallback) : fallback_(fallback) {}
    void attach(WaylandConnection& connection) { connection_ = &connection; }

    std::vector<std::string> types() override;
    std::optional<std::string> data(const std::string& type) override;
    void set(const Formats& formats, Content content) override;
    void onFetched(std::function<void()> handler) override;
    bool offersLater() override { return !native() && fallback_.offersLater(); }
    void onOffered(std::function<void()> handler) override {
        fallback_.onOffered(std::move(handler));
    }
    std::optional<std::uint64_t> changeCount() override;

    void bound(WaylandConnection& connection, const WaylandConnection::Globals& globals) override;
    void closing() override;

  private:
    struct Source {
        OfferedFormats formats;
        bool transcript = false;
        bool fetched = false;
    };
    struct Listeners;
    bool native();
    void awaitOwnSelection();
    void select(zwlr_data_control_offer_v1* offer);
    void served(zwlr_data_control_source_v1* source, const std::string& type, int fd);

    Pasteboard& fallback_;
    WaylandConnection* connection_ = nullptr;
    // Lives as long as a notice posted to the main queue may.
    std::shared_ptr<std::function<void()>> fetched_ = std::make_shared<std::function<void()>>();
    std::uint64_t stalled_ = 0;  // the selection whose owner did not answer in time

    std::mutex lock_;
    bool haveDevice_ = false;
    std::uint64_t generation_ = 0;  // of the selection; 0: none seen yet
    std::vector<std::string> types_;
    // Our selections asked for and seen through by the compositor: until they
    // match, the offer above may still be the one we replaced.
    std::uint64_t setsAsked_ = 0, setsSeen_ = 0;
    std::condition_variable seen_;

    // Connection thread only.
    WaylandConnection* thread_ = nullptr;
    zwlr_data_control_manager_v1* manager_ = nullptr;
    zwlr_data_control_device_v1* device_ = nullptr;
    std::map<zwlr_data_control_offer_v1*, std::vector<std::string>> introduced_;
    zwlr_data_control_offer_v1* current_ = nullptr;
    std::map<zwlr_data_control_source_v1*, Source> sources_;
};

}  // namespace zavren
