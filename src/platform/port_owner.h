#pragma once

#include <string>
#include <vector>

namespace zavren {

// Who listens on a loopback TCP port: a connection to 127.0.0.1 could reach any of
// these sockets, so one listener of another user is enough to make it unsafe.
enum class ListenerOwner { nobody, us, stranger };

// A process holding a listening socket on a port, as far as we may see it.
struct PortListener {
    int pid = 0;
    unsigned uid = 0;
    std::string executable;         // what /proc says it runs, links resolved
    std::vector<std::string> args;  // its command line, the program first
};

class PortOwners {
  public:
    virtual ~PortOwners() = default;
    virtual ListenerOwner owner(int port) = 0;
    // The processes we can see listening on the port (only our own, unless root).
    virtual std::vector<PortListener> listeners(int /*port*/) { return {}; }
    // SIGTERM, then SIGKILL if it outlives a grace period; blocks until it is gone
    // or the kill was sent.
    virtual void stopProcess(int /*pid*/) {}
};

}  // namespace zavren
