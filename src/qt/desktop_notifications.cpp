#include "qt/desktop_notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>
#include <climits>
#include <cmath>

#include "shared/constants.h"

namespace zavren {

namespace {

const QString SERVICE = QStringLiteral("org.freedesktop.Notifications");
const QString PATH = QStringLiteral("/org/freedesktop/Notifications");
// A hung service must not keep later hints waiting for long.
constexpr int CALL_TIMEOUT_MS = 5000;

}  // namespace

QVariantList notifyArguments(const std::string& text, double seconds, uint replacesId) {
    // -1 lets the service choose; anything past an int would wrap to "never".
    int expireMs = -1;
    if (seconds > 0)
        expireMs = static_cast<int>(std::min(std::round(seconds * 1000), double(INT_MAX)));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("zavren")},
                            // Hints are of the moment: no place in the notification history.
                            {QStringLiteral("transient"), true},
                            {QStringLiteral("urgency"), QVariant::fromValue<uchar>(1)}};
    // The text goes in the summary, which services never read as markup.
    return {QStringLiteral("ZAVREN"),
            replacesId,
            QStringLiteral("zavren"),
            QString::fromStdString(text),
            QString(),
            QStringList(),
            hints,
            expireMs};
}

DesktopNotifications::DesktopNotifications(SystemLog& log)
    : DesktopNotifications(log, QDBusConnection::sessionBus()) {}

DesktopNotifications::DesktopNotifications(SystemLog& log, const QDBusConnection& bus)
    : log_(log), bus_(std::make_unique<QDBusConnection>(bus)) {}

DesktopNotifications::~DesktopNotifications() = default;

void DesktopNotifications::notify(const std::string& text, double seconds) {
    if (inFlight_) {
        waiting_.emplace(text, seconds);
        return;
    }
    send(text, seconds);
}

void DesktopNotifications::send(const std::string& text, double seconds) {
    if (!bus_->isConnected()) {
        if (!std::exchange(warned_, true))
            log_.line(LOG_PREFIX + "没有会话总线,提示无法以桌面通知显示");
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(SERVICE, PATH, SERVICE, QStringLiteral("Notify"));
    call.setArguments(notifyArguments(text, seconds, lastId_));
    inFlight_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus_->asyncCall(call, CALL_TIMEOUT_MS), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &DesktopNotifications::answered);
}

void DesktopNotifications::answered(QDBusPendingCallWatcher* call) {
    call->deleteLater();
    inFlight_ = false;
    const QDBusPendingReply<uint> reply = *call;
    if (reply.isError()) {
        if (!std::exchange(warned_, true))
            log_.line(LOG_PREFIX + "桌面通知服务不可用(" + reply.error().name().toStdString() +
                      "),提示无法显示");
    } else {
        lastId_ = reply.value();
    }
    if (auto next = std::exchange(waiting_, std::nullopt)) send(next->first, next->second);
}

}  // namespace zavren
