#include "posix/proc_net_port_owners.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>

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

namespace {

bool loopbackOrAny(const inet_diag_msg& m) {
    std::uint32_t w[4];
    std::memcpy(w, m.id.idiag_src, sizeof w);
    for (auto& x : w) x = ntohl(x);
    if (m.idiag_family == AF_INET) return w[0] == 0 || (w[0] >> 24) == 127;
    if (w[0] != 0 || w[1] != 0) return false;
    if (w[2] == 0) return w[3] == 0 || w[3] == 1;
    return w[2] == 0xffff && (w[3] == 0 || (w[3] >> 24) == 127);
}

// Listeners of one address family on `port`; nullopt when the kernel would not say.
std::optional<ListenerOwner> askKernel(int family, int port, uid_t self, ListenerOwner found) {
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0) return std::nullopt;
    // The main thread asks: a kernel that does not answer must not hold it.
    const timeval limit{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    struct {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } req{};
    req.header.nlmsg_len = sizeof req;
    req.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    req.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.body.sdiag_family = static_cast<std::uint8_t>(family);
    req.body.sdiag_protocol = IPPROTO_TCP;
    req.body.idiag_states = 1U << TCP_LISTEN;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &req, sizeof req, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) !=
        static_cast<ssize_t>(sizeof req)) {
        ::close(fd);
        return std::nullopt;
    }
    alignas(nlmsghdr) char buffer[32768];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        auto len = static_cast<unsigned int>(n);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, len);
             h = NLMSG_NEXT(h, len)) {
            if (h->nlmsg_type == NLMSG_DONE) {
                ::close(fd);
                return found;
            }
            if (h->nlmsg_type == NLMSG_ERROR ||
                h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
                ::close(fd);
                return std::nullopt;
            }
            // NLMSG_DATA, without the macro's C cast.
            const auto* m = reinterpret_cast<const inet_diag_msg*>(
                reinterpret_cast<const char*>(h) + NLMSG_HDRLEN);
            if (ntohs(m->id.idiag_sport) != port || !loopbackOrAny(*m)) continue;
            if (m->idiag_uid != self) {
                ::close(fd);
                return ListenerOwner::stranger;
            }
            found = ListenerOwner::us;
        }
    }
    ::close(fd);
    return std::nullopt;
}

}  // namespace

ListenerOwner ProcNetPortOwners::owner(int port) {
    ListenerOwner found = ListenerOwner::nobody;
    bool answered = true;
    for (int family : {AF_INET, AF_INET6}) {
        auto r = askKernel(family, port, ::geteuid(), found);
        if (!r) {
            answered = false;
            break;
        }
        found = *r;
        if (found == ListenerOwner::stranger) return found;
    }
    if (answered) return found;
    found = ListenerOwner::nobody;
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

namespace zavren {

std::vector<unsigned long> listenerInodes(std::string_view table, int port) {
    std::vector<unsigned long> out;
    std::istringstream in{std::string(table)};
    std::string line;
    std::getline(in, line);  // the heading
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
              timeout >> inode))
            continue;
        const auto colon = local.find(':');
        if (state != LISTEN || colon == std::string::npos ||
            !reachableFromLoopback(local.substr(0, colon)))
            continue;
        try {
            if (std::stoul(local.substr(colon + 1), nullptr, 16) ==
                static_cast<unsigned long>(port))
                out.push_back(std::stoul(inode));
        } catch (const std::exception&) {
        }
    }
    return out;
}

namespace {

namespace fs = std::filesystem;

std::vector<std::string> commandLine(const std::string& procDir) {
    std::vector<std::string> args;
    auto read = files::readCapped(procDir + "/cmdline", 1 << 16);
    if (!read) return args;
    std::size_t start = 0;
    const std::string& all = read->bytes;
    while (start < all.size()) {
        std::size_t end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        args.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return args;
}

bool alive(int pid) {
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

}  // namespace

std::vector<PortListener> ProcNetPortOwners::listeners(int port) {
    std::set<std::string> sockets;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        if (auto text = files::read(table)) {
            for (unsigned long inode : listenerInodes(*text, port))
                sockets.insert("socket:[" + std::to_string(inode) + "]");
        }
    }
    std::vector<PortListener> out;
    if (sockets.empty()) return out;
    std::error_code ec;
    for (fs::directory_iterator proc("/proc", ec), end; !ec && proc != end; proc.increment(ec)) {
        const std::string name = proc->path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code fec;
        bool holds = false;
        for (fs::directory_iterator fd(proc->path() / "fd", fec), fend;
             !fec && fd != fend && !holds; fd.increment(fec)) {
            std::error_code lec;
            holds = sockets.count(fs::read_symlink(fd->path(), lec).string()) > 0;
        }
        if (!holds) continue;
        struct stat st {};
        if (::stat(proc->path().c_str(), &st) != 0) continue;
        std::error_code xec;
        PortListener l;
        l.pid = std::stoi(name);
        l.uid = st.st_uid;
        l.executable = fs::read_symlink(proc->path() / "exe", xec).string();
        l.args = commandLine(proc->path().string());
        out.push_back(std::move(l));
    }
    return out;
}

void ProcNetPortOwners::stopProcess(int pid) {
    using namespace std::chrono_literals;
    if (pid <= 1) return;
    ::kill(pid, SIGTERM);
    const auto end = std::chrono::steady_clock::now() + 1500ms;
    while (alive(pid) && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(10ms);
    if (alive(pid)) ::kill(pid, SIGKILL);
}

}  // namespace zavren
