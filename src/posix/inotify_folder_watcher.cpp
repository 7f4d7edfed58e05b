#include "posix/inotify_folder_watcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <thread>

namespace zavren {

namespace {

constexpr std::uint32_t ENTRY_EVENTS = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                       IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

class InotifyWatch : public FolderWatch {
  public:
    InotifyWatch(int inotify, int wake, std::string dir, std::function<void()> onChange)
        : inotify_(inotify), wake_(wake), dir_(std::move(dir)), onChange_(std::move(onChange)) {
        thread_ = std::thread([this] { loop(); });
    }
    ~InotifyWatch() override {
        const std::uint64_t one = 1;
        (void)::write(wake_, &one, sizeof one);
        thread_.join();
        ::close(inotify_);
        ::close(wake_);
    }
    InotifyWatch(const InotifyWatch&) = delete;
    InotifyWatch& operator=(const InotifyWatch&) = delete;

  private:
    void loop() {
        alignas(inotify_event) char buf[16384];
        for (;;) {
            pollfd fds[2] = {{inotify_, POLLIN, 0}, {wake_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents != 0) return;
            const ssize_t n = ::read(inotify_, buf, sizeof buf);
            if (n <= 0) {
                if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
                return;
            }
            // The folder may have been made anew: watching it again is harmless
            // when it is the same one.
            (void)::inotify_add_watch(inotify_, dir_.c_str(), ENTRY_EVENTS);
            onChange_();
        }
    }

    int inotify_;
    int wake_;
    std::string dir_;
    std::function<void()> onChange_;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<FolderWatch> InotifyFolderWatcher::watch(const std::string& dir,
                                                         std::function<void()> onChange) {
    std::error_code ec;
    const std::string parent = std::filesystem::path(dir).parent_path().string();
    std::filesystem::create_directories(parent, ec);
    int inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (inotify < 0) return nullptr;
    int wake = ::eventfd(0, EFD_CLOEXEC);
    if (wake < 0 || ::inotify_add_watch(inotify, parent.c_str(), ENTRY_EVENTS) < 0) {
        ::close(inotify);
        if (wake >= 0) ::close(wake);
        return nullptr;
    }
    (void)::inotify_add_watch(inotify, dir.c_str(), ENTRY_EVENTS);
    return std::make_unique<InotifyWatch>(inotify, wake, dir, std::move(onChange));
}

}  // namespace zavren
