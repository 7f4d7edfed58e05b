#include "wayland/wayland_hotkey_monitor.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "shared/trace.h"

namespace zavren {

WaylandHotkeyMonitor::WaylandHotkeyMonitor(Dispatcher& dispatcher, SystemLog& log, Options options)
    : dispatcher_(dispatcher), log_(log), options_(std::move(options)) {}

WaylandHotkeyMonitor::~WaylandHotkeyMonitor() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        (void)!::write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    if (wakeFd_ >= 0) ::close(wakeFd_);
    if (inotifyFd_ >= 0) ::close(inotifyFd_);
}

void WaylandHotkeyMonitor::install(std::function<void(HotkeyEvent)> handler) {
    if (thread_.joinable()) return;
    handler_ = std::move(handler);
    server_ = std::make_unique<PttServer>([this](PttCommand command) {
        bindingUsed_ = true;
        if (auto event = key_.apply(command, PttKey::Clock::now())) deliver(*event);
    });
    std::string error;
    if (!server_->listen(options_.socketPath, error)) log_.line("ZAVREN: " + error);

    devices_ = std::make_unique<KeyboardDevices>(options_.openDevice,
                                                 [this](HotkeyEvent e) { deliver(e); });
    devices_->choose(chosen_);
    // Devices appear, and become readable when udev sets their group, later.
    inotifyFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd_ >= 0)
        ::inotify_add_watch(inotifyFd_, options_.inputDir.c_str(),
                            IN_CREATE | IN_ATTRIB | IN_DELETE | IN_MOVED_TO);
    devices_->scan(options_.inputDir);
    devicesChanged();
    if (devices_->empty())
        log_.line("ZAVREN: 无法读取键盘设备(" + options_.inputDir +
                  "),请用合成器快捷键调用 zavren ptt press/release,或把用户加入 input 组");

    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        log_.line("ZAVREN: 无法启动热键线程");
        return;
    }
    thread_ = std::thread([this] { run(); });
}

void WaylandHotkeyMonitor::choose(HotkeyKey key) {
    chosen_ = key;
    if (devices_) devices_->choose(key);
}

std::optional<HotkeySources> WaylandHotkeyMonitor::sources() const {
    return HotkeySources{devicesReadable_, bindingUsed_};
}

void WaylandHotkeyMonitor::devicesChanged() {
    devicesReadable_ = !devices_->empty();
}

void WaylandHotkeyMonitor::deliver(HotkeyEvent event) {
    trace::mark("hotkey-wake");
    dispatcher_.post([this, event] {
        if (handler_) handler_(event);
    });
}

void WaylandHotkeyMonitor::run() {
    enum class Kind { wake, listen, inotify, connection, device };
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<Kind> kinds;
        auto watch = [&](int fd, Kind kind) {
            if (fd < 0) return;
            fds.push_back({fd, POLLIN, 0});
            kinds.push_back(kind);
        };
        watch(wakeFd_, Kind::wake);
        watch(server_->listenFd(), Kind::listen);
        watch(inotifyFd_, Kind::inotify);
        for (int fd : server_->connectionFds()) watch(fd, Kind::connection);
        for (int fd : devices_->fds()) watch(fd, Kind::device);
        if (::poll(fds.data(), fds.size(), -1) < 0) continue;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            switch (kinds[i]) {
                case Kind::wake:
                    return;
                case Kind::listen:
                    server_->onListenReadable();
                    break;
                case Kind::inotify:
                    onInotify();
                    devicesChanged();
                    break;
                case Kind::connection:
                    server_->onConnectionReadable(fds[i].fd);
                    break;
                case Kind::device:
                    devices_->onReadable(fds[i].fd);
                    devicesChanged();
                    break;
            }
        }
    }
}

void WaylandHotkeyMonitor::onInotify() {
    alignas(inotify_event) char buf[4096];
    ssize_t n;
    while ((n = ::read(inotifyFd_, buf, sizeof buf)) > 0) {
        for (char* p = buf; p < buf + n;) {
            auto* ev = reinterpret_cast<inotify_event*>(p);
            p += sizeof(inotify_event) + ev->len;
            if (ev->mask & IN_Q_OVERFLOW) devices_->scan(options_.inputDir);
            if (ev->len == 0) continue;
            const std::string name = ev->name;
            if (name.rfind("event", 0) != 0) continue;
            const std::string path = options_.inputDir + "/" + name;
            if (ev->mask & IN_DELETE)
                devices_->remove(path);
            else
                devices_->add(path);
        }
    }
}

}  // namespace zavren
