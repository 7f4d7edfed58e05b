#pragma once

#include <sys/types.h>

#include <string_view>
#include <vector>

#include "platform/port_owner.h"

namespace zavren {

// Asks the kernel for the listening TCP sockets and their owners (sock_diag over
// netlink, which walks only the listening table), else reads /proc/net/tcp and
// tcp6, which walk every connection bucket and take milliseconds on a large machine.
class ProcNetPortOwners : public PortOwners {
  public:
    ListenerOwner owner(int port) override;
    std::vector<PortListener> listeners(int port) override;
    void stopProcess(int pid) override;
};

// The socket inodes of loopback-reachable listeners on the port in one table's text.
std::vector<unsigned long> listenerInodes(std::string_view table, int port);

// The answer for one table's text, counting listeners on loopback or any address
// with that port; `found` carries what earlier tables said.
ListenerOwner ownerInTable(std::string_view table, int port, uid_t self, ListenerOwner found);

}  // namespace zavren
