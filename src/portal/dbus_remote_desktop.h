#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QSet>

#include "platform/remote_desktop.h"

namespace zavren {

// org.freedesktop.portal.RemoteDesktop on the session bus. Nothing here waits:
// every call is asynchronous and answers on the main thread.
class DbusRemoteDesktop : public QObject, public RemoteDesktopBus {
    Q_OBJECT
  public:
    explicit DbusRemoteDesktop(QDBusConnection bus = QDBusConnection::sessionBus());

    void probe(std::function<void(std::optional<RemoteDesktopOffer>)> answer) override;
    void createSession(
        std::function<void(PortalResponse, const std::string& session)> answer) override;
    void selectKeyboard(const std::string& session, bool persist, const std::string& restoreToken,
                        std::function<void(PortalResponse)> answer) override;
    void start(const std::string& session,
               std::function<void(PortalResponse, bool keyboard, const std::string& restoreToken)>
                   answer) override;
    void chord(const std::string& session, const std::vector<PortalKey>& keys,
               std::function<void(bool sent)> answer) override;
    void close(const std::string& session) override;
    void onClosed(std::function<void(const std::string& session)> handler) override {
        closed_ = std::move(handler);
    }

  private slots:
    void sessionClosed(const QDBusMessage& message);

  private:
    QDBusMessage call(const QString& method, const QList<QVariant>& args) const;
    void watchSession(const QString& path);

    QDBusConnection bus_;
    std::function<void(const std::string&)> closed_;
    QSet<QString> watched_;
};

}  // namespace zavren
