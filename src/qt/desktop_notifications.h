#pragma once

#include <QList>
#include <QObject>
#include <QVariant>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "platform/log.h"

namespace zavren {

// Hints as desktop notifications, for desktops where no capsule can be shown.
// Each replaces the one before instead of piling up, and only one call is out at a
// time: a slow or absent notification service never holds up the main thread.
class DesktopNotifications : public QObject {
    Q_OBJECT
  public:
    // The answer to one Notify call: the id the service gave, or why there is none.
    using Reply = std::function<void(std::optional<uint> id, const std::string& error)>;
    // Sends Notify(app, replaces_id, icon, summary, body, actions, hints, expire_timeout).
    using Call = std::function<void(const QList<QVariant>& args, Reply reply)>;

    // Sends CloseNotification(id).
    using Close = std::function<void(uint id)>;

    // On the session bus.
    explicit DesktopNotifications(SystemLog& log);
    DesktopNotifications(SystemLog& log, Call call, Close close = nullptr);

    void notify(const std::string& text, double seconds);
    // Takes the last notification away, also one whose Notify is still out.
    void withdraw();

  private:
    void send(const std::string& text, double seconds);
    void answered(std::optional<uint> id, const std::string& error);

    SystemLog& log_;
    Call call_;
    Close close_;
    bool shown_ = false;
    bool withdrawWhenAnswered_ = false;
    uint lastId_ = 0;
    bool inFlight_ = false;
    // Only the newest hint waits for the call in flight: older ones are stale.
    std::optional<std::pair<std::string, double>> waiting_;
    bool warned_ = false;
};

}  // namespace zavren
