#include "portal/dbus_remote_desktop.h"

#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QPointer>
#include <memory>

#include "portal/portal_request.h"

namespace zavren {

namespace {

const QString INTERFACE = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString SESSION_INTERFACE = QStringLiteral("org.freedesktop.portal.Session");
constexpr uint KEYBOARD = 1;
constexpr uint PERSIST_UNTIL_REVOKED = 2;

// Portals accept only object paths they handed out; anything else is refused here.
QDBusObjectPath sessionPath(const std::string& session) {
    return QDBusObjectPath(QString::fromStdString(session));
}

}  // namespace

DbusRemoteDesktop::DbusRemoteDesktop(QDBusConnection bus) : bus_(std::move(bus)) {}

QDBusMessage DbusRemoteDesktop::call(const QString& method, const QList<QVariant>& args) const {
    QDBusMessage m = QDBusMessage::createMethodCall(PORTAL_SERVICE, PORTAL_PATH, INTERFACE, method);
    m.setArguments(args);
    return m;
}

void DbusRemoteDesktop::probe(std::function<void(std::optional<RemoteDesktopOffer>)> answer) {
    if (!bus_.isConnected()) return answer(std::nullopt);
    QDBusMessage m = QDBusMessage::createMethodCall(
        PORTAL_SERVICE, PORTAL_PATH, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("GetAll"));
    m.setArguments({INTERFACE});
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(m, PORTAL_CALL_TIMEOUT_MS), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [answer](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                const QDBusPendingReply<QVariantMap> reply = *done;
                if (reply.isError()) return answer(std::nullopt);
                const QVariantMap props = reply.value();
                if (!props.contains(QStringLiteral("version"))) return answer(std::nullopt);
                const uint types = props.value(QStringLiteral("AvailableDeviceTypes")).toUInt();
                answer(RemoteDesktopOffer{props.value(QStringLiteral("version")).toUInt(),
                                          (types & KEYBOARD) != 0});
            });
}

void DbusRemoteDesktop::createSession(
    std::function<void(PortalResponse, const std::string&)> answer) {
    QVariantMap options{{QStringLiteral("session_handle_token"), PortalRequest::token()}};
    PortalRequest::send(bus_, call(QStringLiteral("CreateSession"), {options}),
                        [self = QPointer(this), answer](uint code, const QVariantMap& results) {
                            const QString session =
                                results.value(QStringLiteral("session_handle")).toString();
                            if (!self) return;
                            if (code == 0 && !session.isEmpty()) self->watchSession(session);
                            answer(portalResponse(code), session.toStdString());
                        });
}

void DbusRemoteDesktop::selectKeyboard(const std::string& session, bool persist,
                                       const std::string& restoreToken,
                                       std::function<void(PortalResponse)> answer) {
    QVariantMap options{{QStringLiteral("types"), KEYBOARD}};
    if (persist) {
        options.insert(QStringLiteral("persist_mode"), PERSIST_UNTIL_REVOKED);
        if (!restoreToken.empty())
            options.insert(QStringLiteral("restore_token"), QString::fromStdString(restoreToken));
    }
    PortalRequest::send(
        bus_,
        call(QStringLiteral("SelectDevices"), {QVariant::fromValue(sessionPath(session)), options}),
        [answer](uint code, const QVariantMap&) { answer(portalResponse(code)); });
}

void DbusRemoteDesktop::start(
    const std::string& session,
    std::function<void(PortalResponse, bool, const std::string&)> answer) {
    PortalRequest::send(
        bus_,
        call(QStringLiteral("Start"),
             {QVariant::fromValue(sessionPath(session)), QString(), QVariantMap()}),
        [answer](uint code, const QVariantMap& results) {
            const uint devices = results.value(QStringLiteral("devices")).toUInt();
            answer(portalResponse(code), (devices & KEYBOARD) != 0,
                   results.value(QStringLiteral("restore_token")).toString().toStdString());
        });
}

void DbusRemoteDesktop::chord(const std::string& session, const std::vector<PortalKey>& keys,
                              std::function<void(bool)> answer) {
    // One event at a time, each after the last one's reply: sent all at once, KDE's
    // portal now and then let V through before Ctrl took hold, and typed a plain "v".
    struct Event {
        PortalKey key;
        uint state;
    };
    auto events = std::make_shared<std::vector<Event>>();
    for (const PortalKey& key : keys) events->push_back({key, 1});
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) events->push_back({*it, 0});
    auto next = std::make_shared<std::function<void(std::size_t, bool)>>();
    *next = [this, session, events, answer, next](std::size_t at, bool sent) {
        if (at == events->size()) {
            auto done = answer;
            *next = nullptr;  // ends the cycle through the capture: touch nothing of it after
            return done(sent);
        }
        const Event& e = (*events)[at];
        const QString method = e.key.keysym ? QStringLiteral("NotifyKeyboardKeysym")
                                            : QStringLiteral("NotifyKeyboardKeycode");
        QDBusMessage m = call(method, {QVariant::fromValue(sessionPath(session)), QVariantMap(),
                                       static_cast<int>(e.key.code), e.state});
        auto* watcher =
            new QDBusPendingCallWatcher(bus_.asyncCall(m, PORTAL_CALL_TIMEOUT_MS), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [next, at, sent](QDBusPendingCallWatcher* done) {
                    done->deleteLater();
                    // A key pressed must still be released: go on after a failure.
                    if (*next) (*next)(at + 1, sent && !done->isError());
                });
    };
    (*next)(0, true);
}

void DbusRemoteDesktop::close(const std::string& session) {
    const QString path = QString::fromStdString(session);
    bus_.disconnect(PORTAL_SERVICE, path, SESSION_INTERFACE, QStringLiteral("Closed"), this,
                    SLOT(sessionClosed(QDBusMessage)));
    watched_.remove(path);
    bus_.asyncCall(QDBusMessage::createMethodCall(PORTAL_SERVICE, path, SESSION_INTERFACE,
                                                  QStringLiteral("Close")),
                   PORTAL_CALL_TIMEOUT_MS);
}

void DbusRemoteDesktop::watchSession(const QString& path) {
    if (watched_.contains(path)) return;
    watched_.insert(path);
    bus_.connect(PORTAL_SERVICE, path, SESSION_INTERFACE, QStringLiteral("Closed"), this,
                 SLOT(sessionClosed(QDBusMessage)));
}

void DbusRemoteDesktop::sessionClosed(const QDBusMessage& message) {
    const QString path = message.path();
    bus_.disconnect(PORTAL_SERVICE, path, SESSION_INTERFACE, QStringLiteral("Closed"), this,
                    SLOT(sessionClosed(QDBusMessage)));
    watched_.remove(path);
    if (closed_) closed_(path.toStdString());
}

}  // namespace zavren
