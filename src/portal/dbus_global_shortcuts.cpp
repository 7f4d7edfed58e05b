#include "portal/dbus_global_shortcuts.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>

#include "portal/portal_request.h"

namespace zavren {

namespace {

const QString INTERFACE = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString SESSION_INTERFACE = QStringLiteral("org.freedesktop.portal.Session");

// BindShortcuts takes a(sa{sv}): QtDBus needs the struct written by hand.
struct Shortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& out, const Shortcut& s) {
    out.beginStructure();
    out << s.id << s.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, Shortcut& s) {
    in.beginStructure();
    in >> s.id >> s.properties;
    in.endStructure();
    return in;
}

}  // namespace

}  // namespace zavren

Q_DECLARE_METATYPE(zavren::Shortcut)

namespace zavren {

DbusGlobalShortcuts::DbusGlobalShortcuts(const QString& appId, QDBusConnection bus)
    : bus_(std::move(bus)) {
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
    if (!bus_.isConnected()) return;
    // Portals without the registry answer with an error, which changes nothing.
    QDBusMessage m = QDBusMessage::createMethodCall(
        PORTAL_SERVICE, PORTAL_PATH, QStringLiteral("org.freedesktop.host.portal.Registry"),
        QStringLiteral("Register"));
    m.setArguments({appId, QVariantMap()});
    bus_.asyncCall(m, PORTAL_CALL_TIMEOUT_MS);
    bus_.connect(PORTAL_SERVICE, PORTAL_PATH, INTERFACE, QStringLiteral("Activated"), this,
                 SLOT(activated(QDBusMessage)));
    bus_.connect(PORTAL_SERVICE, PORTAL_PATH, INTERFACE, QStringLiteral("Deactivated"), this,
                 SLOT(deactivated(QDBusMessage)));
}

void DbusGlobalShortcuts::probe(std::function<void(std::optional<unsigned>)> answer) {
    if (!bus_.isConnected()) return answer(std::nullopt);
    QDBusMessage m = QDBusMessage::createMethodCall(
        PORTAL_SERVICE, PORTAL_PATH, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    m.setArguments({INTERFACE, QStringLiteral("version")});
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(m, PORTAL_CALL_TIMEOUT_MS), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [answer](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                const QDBusPendingReply<QVariant> reply = *done;
                if (reply.isError()) return answer(std::nullopt);
                answer(reply.value().toUInt());
            });
}

void DbusGlobalShortcuts::createSession(
    std::function<void(PortalResponse, const std::string&)> answer) {
    QDBusMessage m = QDBusMessage::createMethodCall(PORTAL_SERVICE, PORTAL_PATH, INTERFACE,
                                                    QStringLiteral("CreateSession"));
    m.setArguments({QVariantMap{{QStringLiteral("session_handle_token"), PortalRequest::token()}}});
    PortalRequest::send(
        bus_, m, [self = QPointer(this), answer](uint code, const QVariantMap& results) {
            const QString session = results.value(QStringLiteral("session_handle")).toString();
            if (self && code == 0 && !session.isEmpty())
                self->bus_.connect(PORTAL_SERVICE, session, SESSION_INTERFACE,
                                   QStringLiteral("Closed"), self,
                                   SLOT(sessionClosed(QDBusMessage)));
            answer(portalResponse(code), session.toStdString());
        });
}

void DbusGlobalShortcuts::bind(const std::string& session, const std::string& id,
                               const std::string& description, const std::string& preferredTrigger,
                               std::function<void(PortalResponse)> answer) {
    const QList<Shortcut> shortcuts{
        {QString::fromStdString(id),
         {{QStringLiteral("description"), QString::fromStdString(description)},
          {QStringLiteral("preferred_trigger"), QString::fromStdString(preferredTrigger)}}}};
    QDBusMessage m = QDBusMessage::createMethodCall(PORTAL_SERVICE, PORTAL_PATH, INTERFACE,
                                                    QStringLiteral("BindShortcuts"));
    m.setArguments({QVariant::fromValue(QDBusObjectPath(QString::fromStdString(session))),
                    QVariant::fromValue(shortcuts), QString(), QVariantMap()});
    PortalRequest::send(bus_, m,
                        [answer](uint code, const QVariantMap&) { answer(portalResponse(code)); });
}

void DbusGlobalShortcuts::activated(const QDBusMessage& message) {
    changed(message, true);
}

void DbusGlobalShortcuts::deactivated(const QDBusMessage& message) {
    changed(message, false);
}

// (o session_handle, s shortcut_id, t timestamp, a{sv} options)
void DbusGlobalShortcuts::changed(const QDBusMessage& message, bool active) {
    const QList<QVariant> args = message.arguments();
    if (args.size() < 2 || !activation_) return;
    const QString session = args[0].value<QDBusObjectPath>().path();
    activation_(session.toStdString(), args[1].toString().toStdString(), active);
}

void DbusGlobalShortcuts::sessionClosed(const QDBusMessage& message) {
    bus_.disconnect(PORTAL_SERVICE, message.path(), SESSION_INTERFACE, QStringLiteral("Closed"),
                    this, SLOT(sessionClosed(QDBusMessage)));
    if (closed_) closed_(message.path().toStdString());
}

}  // namespace zavren
