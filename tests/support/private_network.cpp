// The engine port is fixed, and other programs on this machine (another test run,
// a desktop session's own engine) may hold it. When allowed (root, or a user with
// network namespaces), this test program moves into a private network with only
// its own loopback, before any thread starts; children inherit it. Otherwise the
// tests share the machine's network and rely on the port being free.

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

bool bringUpLoopback() {
    int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    ifreq req{};
    std::strncpy(req.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(s, SIOCGIFFLAGS, &req) == 0;
    req.ifr_flags = static_cast<short>(req.ifr_flags | IFF_UP | IFF_RUNNING);
    ok = ok && ::ioctl(s, SIOCSIFFLAGS, &req) == 0;
    ::close(s);
    return ok;
}

const bool privateNetwork = ::unshare(CLONE_NEWNET) == 0 && bringUpLoopback();

}  // namespace
