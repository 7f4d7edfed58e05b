#pragma once

namespace zavren {

// Who listens on a loopback TCP port: a connection to 127.0.0.1 could reach any of
// these sockets, so one listener of another user is enough to make it unsafe.
enum class ListenerOwner { nobody, us, stranger };

class PortOwners {
  public:
    virtual ~PortOwners() = default;
    virtual ListenerOwner owner(int port) = 0;
};

}  // namespace zavren
