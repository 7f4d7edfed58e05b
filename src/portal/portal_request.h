#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>

#include "platform/remote_desktop.h"

namespace zavren {

inline const QString PORTAL_SERVICE = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString PORTAL_PATH = QStringLiteral("/org/freedesktop/portal/desktop");
// A call that gets no reply at all: the portal or its backend hangs.
constexpr int PORTAL_CALL_TIMEOUT_MS = 5000;

// One portal request: listens for its Response before the call goes out (the
// answer may come before the call's reply), then hands over the response code and
// results once. Deletes itself after the answer, or after `lifetimeMs` if none comes.
class PortalRequest : public QObject {
    Q_OBJECT
  public:
    using Answer = std::function<void(uint code, const QVariantMap& results)>;

    // Sends `call` with a fresh handle_token appended to its options (the last
    // argument). A call that fails answers code 2.
    static void send(QDBusConnection bus, QDBusMessage call, Answer answer,
                     int lifetimeMs = 180000);
    // A token for handle_token or session_handle_token, unique in this process.
    static QString token();

  private slots:
    void response(const QDBusMessage& message);

  private:
    PortalRequest(QDBusConnection bus, QString path, Answer answer);
    void finish(uint code, const QVariantMap& results);

    QDBusConnection bus_;
    QString path_;
    Answer answer_;
};

// A Response code: 0 granted, 1 cancelled by the user, anything else failed.
inline PortalResponse portalResponse(uint code) {
    if (code == 0) return PortalResponse::ok;
    return code == 1 ? PortalResponse::cancelled : PortalResponse::failed;
}

// The a{sv} that a portal signal carries, whatever form QtDBus hands it in.
QVariantMap portalMap(const QVariant& value);

}  // namespace zavren
