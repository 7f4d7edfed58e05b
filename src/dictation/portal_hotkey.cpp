#include "dictation/portal_hotkey.h"

#include <array>
#include <utility>

#include "shared/constants.h"

namespace zavren {

namespace {

constexpr std::array<const char*, HOTKEY_KEYS.size()> TRIGGERS = {
    "Alt_R", "Alt_L", "Control_R", "Super_R", "F13", "F14", "F15", "F16"};

}  // namespace

std::string PortalHotkeyMonitor::preferredTrigger(HotkeyKey key) {
    return TRIGGERS.at(static_cast<std::size_t>(key));
}

std::shared_ptr<PortalHotkeyMonitor> PortalHotkeyMonitor::create(Deps deps) {
    return std::shared_ptr<PortalHotkeyMonitor>(new PortalHotkeyMonitor(std::move(deps)));
}

PortalHotkeyMonitor::PortalHotkeyMonitor(Deps deps) : d_(std::move(deps)) {}

void PortalHotkeyMonitor::choose(HotkeyKey key) {
    // The desktop keeps the trigger the user gave our shortcut: only the first
    // binding carries the wish.
    key_ = key;
    d_.inner.choose(key);
}

std::optional<HotkeySources> PortalHotkeyMonitor::sources() const {
    auto s = d_.inner.sources();
    if (s) s->portalShortcut = bound_;
    return s;
}

void PortalHotkeyMonitor::install(std::function<void(HotkeyEvent)> handler) {
    handler_ = std::move(handler);
    std::weak_ptr<PortalHotkeyMonitor> weak = weak_from_this();
    d_.inner.install([weak](HotkeyEvent e) {
        if (auto self = weak.lock()) self->deliver(e);
    });
    d_.bus.onActivation([weak](const std::string& session, const std::string& id, bool active) {
        auto self = weak.lock();
        if (self && self->bound_ && session == self->session_ && id == SHORTCUT_ID)
            self->deliver(active ? HotkeyEvent::press : HotkeyEvent::release);
    });
    d_.bus.onClosed([weak](const std::string& session) {
        auto self = weak.lock();
        if (!self || session != self->session_) return;
        self->giveUp("桌面结束了快捷键会话");
        // A key held as the session ended is released by no one else.
        if (self->held_) self->deliver(HotkeyEvent::release);
    });
    const std::uint64_t step = ++step_;
    guard(REPLY_TIMEOUT, "GlobalShortcuts");
    d_.bus.probe([weak, step](std::optional<unsigned> version) {
        if (auto self = weak.lock(); self && self->step_ == step) self->probed(version);
    });
}

void PortalHotkeyMonitor::deliver(HotkeyEvent event) {
    if (event != HotkeyEvent::cancel) {
        const bool press = event == HotkeyEvent::press;
        if (press == held_) return;
        held_ = press;
    }
    if (handler_) handler_(event);
}

void PortalHotkeyMonitor::guard(double secs, const std::string& step) {
    d_.dispatcher.postAfter(seconds(secs), [weak = weak_from_this(), at = step_, step] {
        auto self = weak.lock();
        if (self && self->step_ == at) self->giveUp("桌面门户无应答(" + step + ")");
    });
}

void PortalHotkeyMonitor::probed(std::optional<unsigned> version) {
    ++step_;
    if (!version) return;  // no portal shortcuts here: the other sources serve
    const std::uint64_t step = ++step_;
    std::weak_ptr<PortalHotkeyMonitor> weak = weak_from_this();
    guard(REPLY_TIMEOUT, "CreateSession");
    d_.bus.createSession([weak, step](PortalResponse r, const std::string& session) {
        if (auto self = weak.lock(); self && self->step_ == step) self->created(r, session);
    });
}

void PortalHotkeyMonitor::created(PortalResponse response, const std::string& session) {
    if (response != PortalResponse::ok || session.empty())
        return giveUp("桌面门户未能建立快捷键会话");
    session_ = session;
    const std::uint64_t step = ++step_;
    std::weak_ptr<PortalHotkeyMonitor> weak = weak_from_this();
    guard(BIND_TIMEOUT, "BindShortcuts");
    d_.bus.bind(session_, SHORTCUT_ID, SHORTCUT_NAME, preferredTrigger(key_),
                [weak, step](PortalResponse r) {
                    if (auto self = weak.lock(); self && self->step_ == step) self->boundAnswer(r);
                });
}

void PortalHotkeyMonitor::boundAnswer(PortalResponse response) {
    ++step_;
    if (response != PortalResponse::ok) return giveUp("桌面未绑定快捷键「按住说话」");
    bound_ = true;
    d_.log.line(LOG_PREFIX + "按键经桌面快捷键「按住说话」接通");
}

void PortalHotkeyMonitor::giveUp(const std::string& why) {
    ++step_;
    bound_ = false;
    session_.clear();
    d_.log.line(LOG_PREFIX + why + ",改用其他按键来源");
}

}  // namespace zavren
