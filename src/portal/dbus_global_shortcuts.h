#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

#include "platform/global_shortcuts.h"

namespace zavren {

// org.freedesktop.portal.GlobalShortcuts on the session bus. Made before any other
// portal call: newer portals want a host program's desktop entry registered first.
class DbusGlobalShortcuts : public QObject, public GlobalShortcutsBus {
    Q_OBJECT
  public:
    DbusGlobalShortcuts(const QString& appId, QDBusConnection bus = QDBusConnection::sessionBus());

    void probe(std::function<void(std::optional<unsigned>)> answer) override;
    void createSession(std::function<void(PortalResponse, const std::string&)> answer) override;
    void bind(const std::string& session, const std::string& id, const std::string& description,
              const std::string& preferredTrigger,
              std::function<void(PortalResponse)> answer) override;
    void onActivation(
        std::function<void(const std::string&, const std::string&, bool)> handler) override {
        activation_ = std::move(handler);
    }
    void onClosed(std::function<void(const std::string&)> handler) override {
        closed_ = std::move(handler);
    }

  private slots:
    void activated(const QDBusMessage& message);
    void deactivated(const QDBusMessage& message);
    void sessionClosed(const QDBusMessage& message);

  private:
    void changed(const QDBusMessage& message, bool active);

    QDBusConnection bus_;
    std::function<void(const std::string&, const std::string&, bool)> activation_;
    std::function<void(const std::string&)> closed_;
};

}  // namespace zavren
