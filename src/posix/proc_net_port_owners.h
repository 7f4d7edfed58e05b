#pragma once

#include <sys/types.h>

#include <string_view>

#include "platform/port_owner.h"

namespace zavren {

// Reads the owner uid of each listening socket from /proc/net/tcp and tcp6.
class ProcNetPortOwners : public PortOwners {
  public:
    ListenerOwner owner(int port) override;
};

// The answer for one table's text, counting listeners on loopback or any address
// with that port; `found` carries what earlier tables said.
ListenerOwner ownerInTable(std::string_view table, int port, uid_t self, ListenerOwner found);

}  // namespace zavren
