#pragma once

#include <QList>
#include <QObject>
#include <QVariant>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/log.h"

class QDBusConnection;
class QDBusPendingCallWatcher;

namespace zavren {

// The arguments of one Notify call for a hint shown `seconds` long, replacing the
// notification `replacesId` (0: none).
QVariantList notifyArguments(const std::string& text, double seconds, uint replacesId);

// Hints as desktop notifications, for desktops where no capsule can be shown.
// Each replaces the one before instead of piling up. Asynchronous: a slow or
// absent notification service never holds up the main thread.
class DesktopNotifications : public QObject {
    Q_OBJECT
  public:
    // On the session bus.
    explicit DesktopNotifications(SystemLog& log);
    DesktopNotifications(SystemLog& log, const QDBusConnection& bus);
    ~DesktopNotifications() override;

    void notify(const std::string& text, double seconds);

  private:
    void send(const std::string& text, double seconds);
    void answered(QDBusPendingCallWatcher* call);

    SystemLog& log_;
    std::unique_ptr<QDBusConnection> bus_;
    uint lastId_ = 0;
    bool inFlight_ = false;
    // Only the newest hint waits for the call in flight: older ones are stale.
    std::optional<std::pair<std::string, double>> waiting_;
    bool warned_ = false;
};

}  // namespace zavren
