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

QList<QVariant> notifyArguments(const std::string& text, double seconds, uint replacesId) {
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

}  // namespace

DesktopNotifications::DesktopNotifications(SystemLog& log) : log_(log) {
    call_ = [this](const QList<QVariant>& args, Reply reply) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return reply(std::nullopt, "no session bus");
        QDBusMessage call =
            QDBusMessage::createMethodCall(SERVICE, PATH, SERVICE, QStringLiteral("Notify"));
        call.setArguments(args);
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, CALL_TIMEOUT_MS), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [reply](QDBusPendingCallWatcher* done) {
                    done->deleteLater();
                    const QDBusPendingReply<uint> answer = *done;
                    if (answer.isError())
                        reply(std::nullopt, answer.error().name().toStdString());
                    else
                        reply(answer.value(), {});
                });
    };
    close_ = [](uint id) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return;
        QDBusMessage call = QDBusMessage::createMethodCall(SERVICE, PATH, SERVICE,
                                                           QStringLiteral("CloseNotification"));
        call.setArguments({id});
        bus.asyncCall(call, CALL_TIMEOUT_MS);
    };
}

DesktopNotifications::DesktopNotifications(SystemLog& log, Call call, Close close)
    : log_(log), call_(std::move(call)), close_(std::move(close)) {}

void DesktopNotifications::notify(const std::string& text, double seconds) {
    if (inFlight_) {
        waiting_.emplace(text, seconds);
        return;
    }
    send(text, seconds);
}

void DesktopNotifications::withdraw() {
    waiting_.reset();
    if (inFlight_) {
        withdrawWhenAnswered_ = true;
        return;
    }
    if (std::exchange(shown_, false) && lastId_ && close_) close_(lastId_);
}

void DesktopNotifications::send(const std::string& text, double seconds) {
    inFlight_ = true;
    withdrawWhenAnswered_ = false;
    call_(notifyArguments(text, seconds, lastId_),
          [this](std::optional<uint> id, const std::string& error) { answered(id, error); });
}

void DesktopNotifications::answered(std::optional<uint> id, const std::string& error) {
    inFlight_ = false;
    shown_ = id.has_value();
    if (id)
        lastId_ = *id;
    else if (!std::exchange(warned_, true))
        log_.line(LOG_PREFIX + "桌面通知服务不可用(" + error + "),提示无法显示");
    if (auto next = std::exchange(waiting_, std::nullopt))
        send(next->first, next->second);
    else if (std::exchange(withdrawWhenAnswered_, false))
        withdraw();
}

}  // namespace zavren
