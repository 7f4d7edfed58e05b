#include "dictation/portal_keyboard.h"

#include <utility>
#include <vector>

#include "shared/constants.h"
#include "shared/trace.h"

namespace zavren {

namespace {

// Key codes, all of them: they take one path through every portal, so the four
// events keep their order (KDE's keysym path let a V release overtake, and V
// repeated). V is at the same key on QWERTY, QWERTZ, AZERTY and Colemak.
constexpr std::uint32_t KEY_LEFTCTRL = 29;
constexpr std::uint32_t KEY_LEFTSHIFT = 42;
constexpr std::uint32_t KEY_V = 47;
constexpr std::uint32_t KEY_INSERT = 110;

}  // namespace

template <typename F>
auto PortalKeyboard::current(F f) {
    return [weak = weak_from_this(), step = step_, f](auto&&... args) {
        auto self = weak.lock();
        if (self && self->step_ == step) ((*self).*f)(std::forward<decltype(args)>(args)...);
    };
}

std::shared_ptr<PortalKeyboard> PortalKeyboard::create(Deps deps) {
    std::shared_ptr<PortalKeyboard> self(new PortalKeyboard(std::move(deps)));
    std::weak_ptr<PortalKeyboard> weak = self;
    self->d_.bus.onClosed([weak](const std::string& session) {
        auto s = weak.lock();
        if (!s || session.empty() || session != s->session_) return;
        s->d_.log.line(LOG_PREFIX + "桌面结束了远程输入会话");
        s->session_.clear();
        s->dropSession();
        s->state_ = State::idle;
        if (s->pastePending_) s->giveUpPaste();
    });
    // Each guard is armed before its request: an answer given at once ends the step.
    self->guard(REPLY_TIMEOUT, [weak] {
        if (auto s = weak.lock()) s->probed(std::nullopt);
    });
    self->d_.bus.probe(self->current(&PortalKeyboard::probed));
    return self;
}

PortalKeyboard::PortalKeyboard(Deps deps) : d_(std::move(deps)) {}

void PortalKeyboard::guard(double secs, std::function<void()> task) {
    d_.dispatcher.postAfter(seconds(secs),
                            [weak = weak_from_this(), step = step_, task = std::move(task)] {
                                auto self = weak.lock();
                                if (self && self->step_ == step) task();
                            });
}

bool PortalKeyboard::isTrusted(bool prompt) {
    if (prompt) warmUp();
    return state_ == State::idle || state_ == State::opening || state_ == State::open;
}

void PortalKeyboard::askAgain() {
    if (state_ == State::refused) {
        d_.defaults.setBool(REFUSED_KEY, false);
        state_ = State::idle;
    }
    warmUp();
}

void PortalKeyboard::warmUp() {
    switch (state_) {
        case State::probing:
            warmWanted_ = true;
            return;
        case State::idle:
            return open(true);
        case State::open:
            return scheduleIdleClose();
        case State::missing:
        case State::opening:
        case State::refused:
            return;
    }
}

void PortalKeyboard::probed(std::optional<RemoteDesktopOffer> offer) {
    ++step_;
    if (!offer || !offer->keyboard) {
        state_ = State::missing;
        d_.log.line(LOG_PREFIX + "桌面门户不提供远程键盘输入,转写结果留在剪贴板上");
        return;
    }
    version_ = offer->version;
    state_ = d_.defaults.boolValue(REFUSED_KEY).value_or(false) ? State::refused : State::idle;
    if (std::exchange(warmWanted_, false)) warmUp();
}

void PortalKeyboard::open(bool withToken) {
    trace::mark("portal-open-begin");
    state_ = State::opening;
    usedToken_ = withToken && version_ >= PERSIST_VERSION &&
                 !d_.defaults.stringValue(TOKEN_KEY).value_or("").empty();
    ++step_;
    // A session that answers after we gave up on it must not stay open.
    std::weak_ptr<PortalKeyboard> weak = weak_from_this();
    guard(REPLY_TIMEOUT, [this] { timedOut("CreateSession"); });
    d_.bus.createSession([weak, step = step_](PortalResponse response, const std::string& session) {
        auto self = weak.lock();
        if (self && self->step_ == step)
            self->created(response, session);
        else if (self && response == PortalResponse::ok && !session.empty())
            self->d_.bus.close(session);
    });
}

void PortalKeyboard::created(PortalResponse response, const std::string& session) {
    if (response != PortalResponse::ok || session.empty())
        return stepFailed(response, "CreateSession");
    session_ = session;
    ++step_;
    const bool persist = version_ >= PERSIST_VERSION;
    const std::string token = usedToken_ ? d_.defaults.stringValue(TOKEN_KEY).value_or("") : "";
    guard(REPLY_TIMEOUT, [this] { timedOut("SelectDevices"); });
    d_.bus.selectKeyboard(session_, persist, token, current(&PortalKeyboard::selected));
}

void PortalKeyboard::selected(PortalResponse response) {
    if (response != PortalResponse::ok) return stepFailed(response, "SelectDevices");
    ++step_;
    guard(APPROVAL_TIMEOUT, [this] { timedOut("Start"); });
    d_.bus.start(session_, current(&PortalKeyboard::started));
}

void PortalKeyboard::started(PortalResponse response, bool keyboard, const std::string& token) {
    if (response != PortalResponse::ok) return stepFailed(response, "Start");
    if (!keyboard) return refuse("桌面未允许键盘输入");
    ++step_;
    state_ = State::open;
    trace::mark("portal-open-end");
    // Tokens are good for one session: the new one replaces the used one.
    if (version_ >= PERSIST_VERSION) d_.defaults.setString(TOKEN_KEY, token);
    if (pastePending_) sendChord();
    scheduleIdleClose();
}

void PortalKeyboard::stepFailed(PortalResponse response, const std::string& step) {
    if (response == PortalResponse::cancelled) return refuse("用户拒绝了远程键盘输入");
    if (usedToken_) {
        // A token the desktop no longer knows: ask the user afresh, once.
        d_.log.line(LOG_PREFIX + "远程输入授权已失效(" + step + "),重新请求");
        d_.defaults.setString(TOKEN_KEY, "");
        dropSession();
        return open(false);
    }
    refuse("桌面门户未能打开远程输入会话(" + step + ")");
}

// Not remembered: a portal that hangs once may answer the next time.
void PortalKeyboard::timedOut(const std::string& step) {
    d_.log.line(LOG_PREFIX + "桌面门户无应答(" + step + "),转写结果留在剪贴板上");
    dropSession();
    state_ = State::idle;
    if (pastePending_) giveUpPaste();
}

void PortalKeyboard::refuse(const std::string& why) {
    d_.log.line(LOG_PREFIX + why + ",转写结果留在剪贴板上;可在菜单中重新请求");
    dropSession();
    state_ = State::refused;
    d_.defaults.setBool(REFUSED_KEY, true);
    if (pastePending_) giveUpPaste();
}

void PortalKeyboard::postPaste(PasteKeys keys) {
    trace::mark("paste-begin");
    chord_ = keys;
    if (state_ == State::open) return sendChord();
    if (state_ != State::idle && state_ != State::opening) {
        pastePending_ = true;
        return giveUpPaste();
    }
    pastePending_ = true;
    const std::uint64_t gen = ++pasteGen_;
    if (state_ == State::idle) open(true);
    d_.dispatcher.postAfter(seconds(PASTE_WAIT), [weak = weak_from_this(), gen] {
        auto self = weak.lock();
        if (!self || !self->pastePending_ || self->pasteGen_ != gen) return;
        self->d_.log.line(LOG_PREFIX + "远程输入会话未能及时打开,转写结果留在剪贴板上");
        self->giveUpPaste();
    });
}

void PortalKeyboard::sendChord() {
    pastePending_ = false;
    ++pasteGen_;
    std::vector<PortalKey> keys;
    switch (chord_) {
        case PasteKeys::ctrlV:
            keys = {{false, KEY_LEFTCTRL}, {false, KEY_V}};
            break;
        case PasteKeys::ctrlShiftV:
            keys = {{false, KEY_LEFTCTRL}, {false, KEY_LEFTSHIFT}, {false, KEY_V}};
            break;
        case PasteKeys::shiftInsert:
            keys = {{false, KEY_LEFTSHIFT}, {false, KEY_INSERT}};
            break;
    }
    chordInFlight_ = true;
    d_.bus.chord(session_, keys, [weak = weak_from_this(), session = session_](bool sent) {
        auto self = weak.lock();
        if (!self) return;
        self->chordInFlight_ = false;
        if (sent) return trace::mark("paste-sent");
        self->d_.log.line(LOG_PREFIX + "粘贴按键未能送达,转写结果留在剪贴板上");
        if (session == self->session_) {
            self->dropSession();
            self->state_ = State::idle;
        }
        self->pastePending_ = true;
        self->giveUpPaste();
    });
    scheduleIdleClose();
}

void PortalKeyboard::dropSession() {
    ++step_;
    if (!session_.empty()) d_.bus.close(session_);
    session_.clear();
}

void PortalKeyboard::giveUpPaste() {
    if (!std::exchange(pastePending_, false)) return;
    ++pasteGen_;
    if (undelivered_) d_.dispatcher.post(undelivered_);
}

// Without a restore token a new session may ask the user again (GNOME does): such a
// session stays open until the desktop ends it.
void PortalKeyboard::scheduleIdleClose() {
    if (version_ < PERSIST_VERSION) return;
    const std::uint64_t use = ++use_;
    d_.dispatcher.postAfter(seconds(IDLE_CLOSE), [weak = weak_from_this(), use] {
        auto self = weak.lock();
        if (!self || self->use_ != use || self->state_ != State::open) return;
        if (self->chordInFlight_) return self->scheduleIdleClose();
        self->dropSession();
        self->state_ = State::idle;
    });
}

}  // namespace zavren
