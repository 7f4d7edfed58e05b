#include "wayland/data_control_pasteboard.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "wayland/bounded_io.h"
#include "wayland/wlr-data-control-unstable-v1.h"

namespace zavren {

namespace {

// Another application owns what it offers and may send without end, or never.
constexpr std::size_t MAX_FORMAT_BYTES = 16u << 20;
constexpr std::chrono::milliseconds READ_TIMEOUT{1000};
// The compositor confirms a selection in well under a millisecond.
constexpr std::chrono::milliseconds SET_TIMEOUT{250};
// An owner may announce types without end; real ones list a few dozen at most.
constexpr std::size_t MAX_TYPES = 256;
constexpr std::size_t MAX_TYPE_LENGTH = 256;

const std::string TEXT_TYPES[] = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "TEXT",
                                  "STRING"};
// The same hints the X11 clipboard carries.
const std::string TRANSIENT_TYPE = "org.nspasteboard.TransientType";
const std::string PASSWORD_HINT_TYPE = "x-kde-passwordManagerHint";

struct OwnedFd {
    explicit OwnedFd(int owned) : fd(owned) {}
    ~OwnedFd() { close(); }
    void close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int fd;
};

}  // namespace

bool isTextType(const std::string& type) {
    return type.starts_with("text/plain") ||
           std::find(std::begin(TEXT_TYPES), std::end(TEXT_TYPES), type) != std::end(TEXT_TYPES);
}

OfferedFormats offeredFormats(const Pasteboard::Formats& formats, bool hinted) {
    OfferedFormats out;
    for (const auto& [type, bytes] : formats)
        out.emplace(type, std::make_shared<const std::string>(bytes));
    if (auto text = out.find(PASTEBOARD_TEXT_TYPE); text != out.end()) {
        const auto bytes = text->second;
        for (const auto& type : TEXT_TYPES) out.emplace(type, bytes);
    }
    // Our own clipboard put back carries no hint, so a clipboard manager may keep it.
    if (hinted && !out.empty()) {
        out[TRANSIENT_TYPE] = std::make_shared<const std::string>();
        out[PASSWORD_HINT_TYPE] = std::make_shared<const std::string>("secret");
    }
    return out;
}

struct DataControlPasteboard::Listeners {
    static DataControlPasteboard& self(void* data) {
        return *static_cast<DataControlPasteboard*>(data);
    }
    static void introduced(void* data, zwlr_data_control_device_v1*,
                           zwlr_data_control_offer_v1* offer) {
        self(data).introduced_[offer];
        zwlr_data_control_offer_v1_add_listener(offer, &offerListener, data);
    }
    static void offered(void* data, zwlr_data_control_offer_v1* offer, const char* type) {
        auto it = self(data).introduced_.find(offer);
        const std::size_t length = std::char_traits<char>::length(type);
        if (it != self(data).introduced_.end() && it->second.size() < MAX_TYPES &&
            length <= MAX_TYPE_LENGTH)
            it->second.emplace_back(type, length);
    }
    static void selected(void* data, zwlr_data_control_device_v1*,
                         zwlr_data_control_offer_v1* offer) {
        self(data).select(offer);
    }
    static void primary(void* data, zwlr_data_control_device_v1*,
                        zwlr_data_control_offer_v1* offer) {
        if (!offer) return;
        self(data).introduced_.erase(offer);
        zwlr_data_control_offer_v1_destroy(offer);
    }
    static void finished(void* data, zwlr_data_control_device_v1*) { self(data).closing(); }
    static void send(void* data, zwlr_data_control_source_v1* source, const char* type,
                     std::int32_t fd) {
        self(data).served(source, type, fd);
    }
    static void cancelled(void* data, zwlr_data_control_source_v1* source) {
        self(data).sources_.erase(source);
        zwlr_data_control_source_v1_destroy(source);
    }

    static constexpr zwlr_data_control_device_v1_listener deviceListener{introduced, selected,
                                                                         finished, primary};
    static constexpr zwlr_data_control_offer_v1_listener offerListener{offered};
    static constexpr zwlr_data_control_source_v1_listener sourceListener{send, cancelled};
};

void DataControlPasteboard::bound(WaylandConnection& connection,
                                  const WaylandConnection::Globals& globals) {
    thread_ = &connection;
    if (!globals.clipboards || !globals.seat) return;
    manager_ = globals.clipboards;
    device_ = zwlr_data_control_manager_v1_get_data_device(globals.clipboards, globals.seat);
    zwlr_data_control_device_v1_add_listener(device_, &Listeners::deviceListener, this);
    std::lock_guard<std::mutex> hold(lock_);
    haveDevice_ = true;
}

void DataControlPasteboard::closing() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        haveDevice_ = false;
        types_.clear();
    }
    for (auto& [offer, types] : introduced_) zwlr_data_control_offer_v1_destroy(offer);
    introduced_.clear();
    if (current_) zwlr_data_control_offer_v1_destroy(current_);
    current_ = nullptr;
    for (auto& [source, formats] : sources_) zwlr_data_control_source_v1_destroy(source);
    sources_.clear();
    if (device_) zwlr_data_control_device_v1_destroy(device_);
    device_ = nullptr;
}

void DataControlPasteboard::select(zwlr_data_control_offer_v1* offer) {
    if (current_) zwlr_data_control_offer_v1_destroy(current_);
    current_ = offer;
    std::vector<std::string> types;
    if (auto it = introduced_.find(offer); it != introduced_.end()) {
        types = std::move(it->second);
        introduced_.erase(it);
    }
    std::lock_guard<std::mutex> hold(lock_);
    ++generation_;
    types_ = std::move(types);
}

void DataControlPasteboard::served(zwlr_data_control_source_v1* source, const std::string& type,
                                   int fd) {
    auto it = sources_.find(source);
    auto format = it == sources_.end() ? OfferedFormats::iterator() : it->second.formats.find(type);
    if (it == sources_.end() || format == it->second.formats.end()) {
        ::close(fd);
        return;
    }
    thread_->write(fd, format->second);
    Source& s = it->second;
    if (s.transcript && !s.fetched && isTextType(type)) {
        s.fetched = true;
        thread_->dispatcher().post([weak = std::weak_ptr<std::function<void()>>(fetched_)] {
            if (auto fetched = weak.lock(); fetched && *fetched) (*fetched)();
        });
    }
}

bool DataControlPasteboard::native() {
    if (!connection_ || !connection_->ready()) return false;
    std::lock_guard<std::mutex> hold(lock_);
    return haveDevice_;
}

// A paste restores the clipboard and saves it again at once: what is saved
// must be what was just put back, not the transcript it replaced.
void DataControlPasteboard::awaitOwnSelection() {
    std::unique_lock<std::mutex> hold(lock_);
    seen_.wait_for(hold, SET_TIMEOUT, [this] { return setsSeen_ == setsAsked_; });
}

std::vector<std::string> DataControlPasteboard::types() {
    if (!native()) return fallback_.types();
    awaitOwnSelection();
    std::lock_guard<std::mutex> hold(lock_);
    return types_;
}

// Every selection the compositor announces, ours included, is a new generation.
std::optional<std::uint64_t> DataControlPasteboard::changeCount() {
    if (!native()) return fallback_.changeCount();
    awaitOwnSelection();
    std::lock_guard<std::mutex> hold(lock_);
    return generation_;
}

std::optional<std::string> DataControlPasteboard::data(const std::string& type) {
    if (!native()) return fallback_.data(type);
    awaitOwnSelection();
    std::uint64_t generation;
    {
        std::lock_guard<std::mutex> hold(lock_);
        generation = generation_;
        if (std::find(types_.begin(), types_.end(), type) == types_.end()) return std::nullopt;
    }
    // An owner that did not answer in time is not asked for its other formats:
    // each would cost the same wait.
    if (generation == stalled_) return std::nullopt;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
    OwnedFd reader(ends[0]);
    auto writer = std::make_shared<OwnedFd>(ends[1]);
    auto asked = std::make_shared<std::atomic<bool>>(false);
    connection_->run([this, generation, type, writer, asked] {
        std::unique_lock<std::mutex> hold(lock_);
        const bool same = generation_ == generation;
        hold.unlock();
        if (same && current_) {
            zwlr_data_control_offer_v1_receive(current_, type.c_str(), writer->fd);
            *asked = true;
        }
        writer->close();  // the owner holds its copy; our end must not keep the pipe open
    });
    writer.reset();
    bool timedOut = false;
    auto bytes = readBounded(reader.fd, MAX_FORMAT_BYTES, READ_TIMEOUT, &timedOut);
    if (timedOut) stalled_ = generation;
    if (!*asked) return std::nullopt;
    return bytes;
}

void DataControlPasteboard::set(const Formats& formats, Content content) {
    if (!native()) {
        fallback_.set(formats, content);
        return;
    }
    const bool transcript = content == Content::pasted || content == Content::kept;
    std::uint64_t ticket;
    {
        std::lock_guard<std::mutex> hold(lock_);
        ticket = ++setsAsked_;
    }
    connection_->run([this, offered = offeredFormats(formats, content == Content::pasted),
                      transcript, ticket]() mutable {
        if (device_ && offered.empty()) {
            zwlr_data_control_device_v1_set_selection(device_, nullptr);
        } else if (device_) {
            auto* source = zwlr_data_control_manager_v1_create_data_source(manager_);
            for (const auto& [type, bytes] : offered)
                zwlr_data_control_source_v1_offer(source, type.c_str());
            zwlr_data_control_source_v1_add_listener(source, &Listeners::sourceListener, this);
            zwlr_data_control_device_v1_set_selection(device_, source);
            sources_[source] = Source{.formats = std::move(offered), .transcript = transcript};
        }
        // The selection event for it comes before the round trip ends.
        thread_->afterRoundTrip([this, ticket] {
            std::lock_guard<std::mutex> hold(lock_);
            setsSeen_ = std::max(setsSeen_, ticket);
            seen_.notify_all();
        });
    });
}

void DataControlPasteboard::onFetched(std::function<void()> handler) {
    *fetched_ = handler;
    fallback_.onFetched(std::move(handler));
}

}  // namespace zavren
