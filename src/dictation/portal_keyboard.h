#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/defaults.h"
#include "platform/dispatch.h"
#include "platform/input.h"
#include "platform/log.h"
#include "platform/remote_desktop.h"

namespace zavren {

// Types the paste chord through the desktop's remote-desktop portal, for
// compositors without a virtual keyboard (KDE Plasma, GNOME). A keyboard-only
// session is opened ahead (when recording starts). Where the portal keeps the
// approval as a restore token the session closes once idle (GNOME shows a sharing
// indicator while one is open); where it cannot, the session stays open, or the
// user would be asked at every dictation. A refusal is remembered until the user
// asks again.
class PortalKeyboard : public KeySynthesizer,
                       public AccessibilityTrust,
                       public std::enable_shared_from_this<PortalKeyboard> {
  public:
    // Longest wait for an answer that needs no one; the approval prompt waits on
    // the user.
    static constexpr double REPLY_TIMEOUT = 5.0;
    static constexpr double APPROVAL_TIMEOUT = 60.0;
    // A paste waits this long for its session; less than the paste sequence's
    // restore fallback, so a late chord can never paste the restored clipboard.
    static constexpr double PASTE_WAIT = 3.0;
    static constexpr double IDLE_CLOSE = 20.0;
    // The portal version that takes persist_mode and restore_token.
    static constexpr unsigned PERSIST_VERSION = 2;
    inline static const std::string TOKEN_KEY = "zavren.portal.restoreToken";
    inline static const std::string REFUSED_KEY = "zavren.portal.refused";

    enum class State { probing, missing, idle, opening, open, refused };

    struct Deps {
        Dispatcher& dispatcher;
        RemoteDesktopBus& bus;
        Defaults& defaults;
        SystemLog& log;
    };

    static std::shared_ptr<PortalKeyboard> create(Deps deps);

    // True while a paste can be typed: the portal is there and was not refused.
    // prompt opens a session, which may show the desktop's approval prompt.
    bool isTrusted(bool prompt) override;
    void askAgain() override;
    // The portal cannot tell which application has the focus.
    std::vector<std::string> focusedApp() override { return {}; }
    // Types the chord now, or as soon as the session opens (within PASTE_WAIT).
    void postPaste(PasteKeys keys) override;
    // Opens a session ahead of a paste; keeps an open one from closing.
    void warmUp();
    // A chord that could not be typed: the transcript must stay for the user.
    void onUndelivered(std::function<void()> handler) { undelivered_ = std::move(handler); }

    State state() const { return state_; }

  private:
    explicit PortalKeyboard(Deps deps);
    void probed(std::optional<RemoteDesktopOffer> offer);
    void open(bool withToken);
    void created(PortalResponse response, const std::string& session);
    void selected(PortalResponse response);
    void started(PortalResponse response, bool keyboard, const std::string& token);
    void stepFailed(PortalResponse response, const std::string& step);
    void refuse(const std::string& why);
    void timedOut(const std::string& step);
    void sendChord();
    void dropSession();
    void giveUpPaste();
    void scheduleIdleClose();
    // Runs task after secs unless the step it guards (by step_) is over.
    void guard(double secs, std::function<void()> task);
    template <typename F>
    auto current(F f);

    Deps d_;
    State state_ = State::probing;
    unsigned version_ = 0;
    bool warmWanted_ = false;
    bool usedToken_ = false;
    std::string session_;
    // Bumped whenever a step ends, so answers and timers of older steps do nothing.
    std::uint64_t step_ = 0;
    std::uint64_t use_ = 0;
    bool pastePending_ = false;
    PasteKeys chord_ = PasteKeys::ctrlV;
    std::uint64_t pasteGen_ = 0;
    bool chordInFlight_ = false;
    std::function<void()> undelivered_;
};

}  // namespace zavren
