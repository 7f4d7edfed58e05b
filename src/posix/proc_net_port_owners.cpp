#include "posix/proc_net_port_owners.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <sstream>
#include <string>

#include "shared/files.h"

namespace zavren {

namespace {

constexpr std::string_view LISTEN = "0A";

bool hexWord(std::string_view text, std::uint32_t& out) {
    if (text.size() != 8) return false;
    out = 0;
    for (char c : text) {
        int v = (c >= '0' && c <= '9')   ? c - '0'
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                         : -1;
        if (v < 0) return false;
        out = out << 4 | static_cast<std::uint32_t>(v);
    }
    return true;
}

// The kernel prints each 32-bit word of the address as it lies in memory.
bool reachableFromLoopback(std::string_view hex) {
    if (hex.size() == 8) {
        std::uint32_t w = 0;
        if (!hexWord(hex, w)) return false;
        const std::uint32_t a = ntohl(w);
        return a == 0 || (a >> 24) == 127;
    }
    if (hex.size() != 32) return false;
    std::array<std::uint32_t, 4> w{};
    for (std::size_t i = 0; i < 4; ++i) {
        if (!hexWord(hex.substr(i * 8, 8), w[i])) return false;
        w[i] = ntohl(w[i]);
    }
    if (w[0] != 0 || w[1] != 0) return false;
    if (w[2] == 0) return w[3] == 0 || w[3] == 1;                 // :: and ::1
    return w[2] == 0xffff && (w[3] == 0 || (w[3] >> 24) == 127);  // v4-mapped
}

}  // namespace

ListenerOwner ownerInTable(std::string_view table, int port, uid_t self, ListenerOwner found) {
    std::istringstream in{std::string(table)};
    std::string line;
    std::getline(in, line);  // the heading
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid))
            continue;
        if (state != LISTEN) continue;
        const auto colon = local.find(':');
        if (colon == std::string::npos || !reachableFromLoopback(local.substr(0, colon))) continue;
        unsigned long localPort = 0;
        unsigned long owner = 0;
        try {
            localPort = std::stoul(local.substr(colon + 1), nullptr, 16);
            owner = std::stoul(uid);
        } catch (const std::exception&) {
            continue;
        }
        if (localPort != static_cast<unsigned long>(port)) continue;
        if (owner != self) return ListenerOwner::stranger;
        found = ListenerOwner::us;
    }
    return found;
}

ListenerOwner ProcNetPortOwners::owner(int port) {
    ListenerOwner found = ListenerOwner::nobody;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        auto text = files::read(table);
        // tcp6 is missing where IPv6 is off; an unreadable tcp table says nothing either.
        if (!text) continue;
        found = ownerInTable(*text, port, ::geteuid(), found);
        if (found == ListenerOwner::stranger) return found;
    }
    return found;
}

}  // namespace zavren
