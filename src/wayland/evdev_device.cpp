#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <unistd.h>

#include <cerrno>

#include "wayland/keyboard_devices.h"

namespace zavren {

namespace {

class EvdevDevice : public InputDevice {
  public:
    EvdevDevice(int fd, libevdev* dev) : fd_(fd), dev_(dev) {}
    ~EvdevDevice() override {
        libevdev_free(dev_);
        ::close(fd_);
    }
    int fd() const override { return fd_; }

    ReadStatus next(input_event& ev) override {
        for (;;) {
            const unsigned flag = syncing_ ? LIBEVDEV_READ_FLAG_SYNC : LIBEVDEV_READ_FLAG_NORMAL;
            const int rc = libevdev_next_event(dev_, flag, &ev);
            if (rc == LIBEVDEV_READ_STATUS_SUCCESS) return ReadStatus::event;
            if (rc == LIBEVDEV_READ_STATUS_SYNC) {
                // Events were dropped; the sync events that follow carry the
                // key state changes (a missed release among them).
                if (syncing_) return ReadStatus::event;
                syncing_ = true;
                continue;
            }
            if (rc == -EAGAIN && syncing_) {
                syncing_ = false;
                continue;
            }
            if (rc == -EAGAIN || rc == -EINTR) return ReadStatus::again;
            return ReadStatus::gone;
        }
    }

  private:
    int fd_;
    libevdev* dev_;
    bool syncing_ = false;
};

}  // namespace

std::unique_ptr<InputDevice> openEvdevKeyboard(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    libevdev* dev = nullptr;
    if (libevdev_new_from_fd(fd, &dev) != 0) {
        ::close(fd);
        return nullptr;
    }
    // Every key the user may choose, so a change of key needs no new scan.
    bool any = false;
    for (HotkeyKey key : HOTKEY_KEYS)
        any = any || libevdev_has_event_code(dev, EV_KEY, static_cast<unsigned>(evdevCode(key)));
    if (!any) {
        libevdev_free(dev);
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<EvdevDevice>(fd, dev);
}

}  // namespace zavren
