#include "portal/portal_request.h"

#include <QDBusArgument>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>
#include <atomic>

namespace zavren {

namespace {

const QString REQUEST_INTERFACE = QStringLiteral("org.freedesktop.portal.Request");

// Where the portal puts the request object: derived from our bus name and the token.
QString requestPath(const QDBusConnection& bus, const QString& token) {
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return PORTAL_PATH + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

}  // namespace

QVariantMap portalMap(const QVariant& value) {
    if (value.canConvert<QDBusArgument>()) return qdbus_cast<QVariantMap>(value);
    return value.toMap();
}

QString PortalRequest::token() {
    static std::atomic<unsigned> next{0};
    return QStringLiteral("zavren%1").arg(++next);
}

void PortalRequest::send(QDBusConnection bus, QDBusMessage call, Answer answer, int lifetimeMs) {
    const QString handle = token();
    auto* request = new PortalRequest(bus, requestPath(bus, handle), std::move(answer));
    QList<QVariant> args = call.arguments();
    QVariantMap options = args.isEmpty() ? QVariantMap() : args.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), handle);
    args.append(options);
    call.setArguments(args);
    if (!bus.connect(PORTAL_SERVICE, request->path_, REQUEST_INTERFACE, QStringLiteral("Response"),
                     request, SLOT(response(QDBusMessage)))) {
        request->finish(2, {});
        return;
    }
    QTimer::singleShot(lifetimeMs, request, [request] { request->deleteLater(); });
    auto* watcher =
        new QDBusPendingCallWatcher(bus.asyncCall(call, PORTAL_CALL_TIMEOUT_MS), request);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, request,
                     [request](QDBusPendingCallWatcher* done) {
                         done->deleteLater();
                         if (done->isError()) request->finish(2, {});
                     });
}

PortalRequest::PortalRequest(QDBusConnection bus, QString path, Answer answer)
    : bus_(std::move(bus)), path_(std::move(path)), answer_(std::move(answer)) {}

void PortalRequest::response(const QDBusMessage& message) {
    const QList<QVariant> args = message.arguments();
    if (args.size() < 2) return finish(2, {});
    finish(args[0].toUInt(), portalMap(args[1]));
}

void PortalRequest::finish(uint code, const QVariantMap& results) {
    bus_.disconnect(PORTAL_SERVICE, path_, REQUEST_INTERFACE, QStringLiteral("Response"), this,
                    SLOT(response(QDBusMessage)));
    if (auto answer = std::exchange(answer_, nullptr)) answer(code, results);
    deleteLater();
}

}  // namespace zavren
