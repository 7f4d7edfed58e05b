#include "wayland/focused_app.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

namespace zavren {

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// A whole tree of a busy desktop is well below this.
constexpr std::size_t MAX_ANSWER = 16u << 20;
constexpr char SWAY_MAGIC[] = "i3-ipc";
constexpr std::size_t SWAY_HEADER = 14;
constexpr std::uint32_t SWAY_GET_TREE = 4;

// Sends request to the socket at path, then reads until `whole` says the
// answer is complete (without it, until the peer closes). The compositor may
// be stuck or hostile: nothing past MAX_ANSWER or the deadline.
std::optional<std::string> ask(const std::string& path, const std::string& request,
                               Clock::time_point deadline,
                               const std::function<bool(const std::string&)>& whole) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) return std::nullopt;
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> answer;
    // Connecting to a Unix socket does not wait for the peer to accept; a full
    // backlog fails at once.
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        std::string got;
        std::size_t sent = 0;
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd, static_cast<short>(sent < request.size() ? POLLOUT : POLLIN), 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            if (sent < request.size()) {
                const ssize_t n =
                    ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
                if (n < 0 && errno != EAGAIN && errno != EINTR) break;
                if (n > 0) sent += static_cast<std::size_t>(n);
                continue;
            }
            char buf[65536];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (n <= 0) {
                if (n == 0 && !whole) answer = std::move(got);
                break;
            }
            if (got.size() + static_cast<std::size_t>(n) > MAX_ANSWER) break;
            got.append(buf, static_cast<std::size_t>(n));
            if (whole && whole(got)) {
                answer = std::move(got);
                break;
            }
        }
    }
    ::close(fd);
    return answer;
}

std::uint32_t readU32(const std::string& s, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, s.data() + at, sizeof v);
    return v;
}

std::optional<std::string> swayTree(const std::string& socketPath, Clock::time_point deadline) {
    std::string request(SWAY_MAGIC, 6);
    const std::uint32_t header[2] = {0, SWAY_GET_TREE};  // length, type; host order
    request.append(reinterpret_cast<const char*>(header), sizeof header);
    auto reply = ask(socketPath, request, deadline, [](const std::string& got) {
        return got.size() >= SWAY_HEADER && got.size() >= SWAY_HEADER + readU32(got, 6);
    });
    if (!reply || reply->compare(0, 6, SWAY_MAGIC) != 0 || readU32(*reply, 10) != SWAY_GET_TREE)
        return std::nullopt;
    return reply->substr(SWAY_HEADER, readU32(*reply, 6));
}

std::string stringAt(const json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

std::string swayFocusedApp(std::string_view treeJson) {
    json root = json::parse(treeJson, nullptr, false);
    if (root.is_discarded()) return {};
    // Walked with a stack of our own: the tree comes from another process.
    std::vector<const json*> pending{&root};
    while (!pending.empty()) {
        const json& node = *pending.back();
        pending.pop_back();
        if (!node.is_object()) continue;
        auto focused = node.find("focused");
        if (focused != node.end() && focused->is_boolean() && focused->get<bool>()) {
            std::string app = stringAt(node, "app_id");
            auto props = node.find("window_properties");
            if (app.empty() && props != node.end() && props->is_object())
                app = stringAt(*props, "class");
            return app;
        }
        for (const char* key : {"nodes", "floating_nodes"}) {
            auto children = node.find(key);
            if (children == node.end() || !children->is_array()) continue;
            for (const auto& child : *children) pending.push_back(&child);
        }
    }
    return {};
}

std::string hyprlandActiveApp(std::string_view windowJson) {
    json window = json::parse(windowJson, nullptr, false);
    if (window.is_discarded() || !window.is_object()) return {};
    std::string app = stringAt(window, "class");
    return app.empty() ? stringAt(window, "initialClass") : app;
}

std::string focusedAppFromCompositor(const std::map<std::string, std::string>& env,
                                     std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    auto value = [&](const char* name) {
        auto it = env.find(name);
        return it == env.end() ? std::string() : it->second;
    };
    if (const std::string sway = value("SWAYSOCK"); !sway.empty()) {
        if (auto tree = swayTree(sway, deadline)) return swayFocusedApp(*tree);
    }
    const std::string instance = value("HYPRLAND_INSTANCE_SIGNATURE");
    if (instance.empty() || instance.find('/') != std::string::npos) return {};
    // Newer releases keep the socket in the runtime directory, older ones in /tmp.
    std::string dir = value("XDG_RUNTIME_DIR") + "/hypr/";
    struct stat st {};
    if (value("XDG_RUNTIME_DIR").empty() || ::stat((dir + instance).c_str(), &st) != 0)
        dir = "/tmp/hypr/";
    auto window = ask(dir + instance + "/.socket.sock", "j/activewindow", deadline, nullptr);
    return window ? hyprlandActiveApp(*window) : std::string();
}

}  // namespace zavren
