#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zavren {

// How the desktop answered one portal request.
enum class PortalResponse { ok, cancelled, failed };

// What the desktop's remote-desktop portal offers.
struct RemoteDesktopOffer {
    unsigned version = 0;
    bool keyboard = false;
};

// One key of a chord: an evdev key code, or a keysym the desktop finds in the
// user's layout.
struct PortalKey {
    bool keysym = false;
    std::uint32_t code = 0;
    bool operator==(const PortalKey&) const = default;
};

// The remote-desktop portal on the session bus. Answers come on the main thread,
// at most once each, and may never come: the caller bounds every wait.
class RemoteDesktopBus {
  public:
    virtual ~RemoteDesktopBus() = default;
    // Absent when no portal offers the interface.
    virtual void probe(std::function<void(std::optional<RemoteDesktopOffer>)> answer) = 0;
    virtual void createSession(
        std::function<void(PortalResponse, const std::string& session)> answer) = 0;
    // A keyboard-only session. persist asks the desktop to remember the approval; an
    // empty token asks the user afresh.
    virtual void selectKeyboard(const std::string& session, bool persist,
                                const std::string& restoreToken,
                                std::function<void(PortalResponse)> answer) = 0;
    // May show the desktop's approval prompt. The token, when the desktop gives one,
    // replaces the one used.
    virtual void start(
        const std::string& session,
        std::function<void(PortalResponse, bool keyboard, const std::string& restoreToken)>
            answer) = 0;
    // Presses the keys in order and releases them in reverse order; false when the
    // desktop refused any of them.
    virtual void chord(const std::string& session, const std::vector<PortalKey>& keys,
                       std::function<void(bool sent)> answer) = 0;
    virtual void close(const std::string& session) = 0;
    // The desktop ended a session (the user stopped it, or the portal went away).
    virtual void onClosed(std::function<void(const std::string& session)> handler) = 0;
};

}  // namespace zavren
