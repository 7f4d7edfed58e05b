#include "wayland/keyboard_devices.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <gtest/gtest.h>

namespace zavren {
namespace {

// The kernel's records through a pipe; the write end closing is the device going away.
struct PipeDevice : InputDevice {
    int in;
    explicit PipeDevice(int fd) : in(fd) {}
    ~PipeDevice() override { ::close(in); }
    int fd() const override { return in; }
    ReadStatus next(input_event& ev) override {
        ssize_t n = ::read(in, &ev, sizeof ev);
        if (n == sizeof ev) return ReadStatus::event;
        return n < 0 && errno == EAGAIN ? ReadStatus::again : ReadStatus::gone;
    }
};

class KeyboardDevicesTest : public ::testing::Test {
  protected:
    std::map<std::string, int> writers;  // device path -> write end
    std::string seen;                    // "P" press, "R" release
    KeyboardDevices devices{
        [this](const std::string& path) -> std::unique_ptr<InputDevice> {
            int p[2];
            if (path.find("event") == std::string::npos || ::pipe2(p, O_NONBLOCK) != 0)
                return nullptr;
            writers[path] = p[1];
            return std::make_unique<PipeDevice>(p[0]);
        },
        [this](HotkeyEvent e) { seen += e == HotkeyEvent::press ? "P" : "R"; }};

    ~KeyboardDevicesTest() override {
        for (auto& [path, fd] : writers) ::close(fd);
    }
    void send(const std::string& path, std::initializer_list<std::pair<unsigned, int>> keys) {
        for (auto [code, value] : keys) {
            input_event ev{};
            ev.type = EV_KEY;
            ev.code = static_cast<unsigned short>(code);
            ev.value = value;
            ASSERT_EQ(::write(writers.at(path), &ev, sizeof ev), ssize_t(sizeof ev));
        }
        for (int fd : devices.fds()) devices.onReadable(fd);
    }
};

TEST_F(KeyboardDevicesTest, KeysBecomeHotkeyEventsAndAKeyboardThatGoesAwayLetsGo) {
    devices.add("/dev/input/event1");
    devices.add("/dev/input/event1");  // opened once
    devices.add("/dev/input/event2");
    ASSERT_EQ(devices.fds().size(), 2u);
    send("/dev/input/event1", {{KEY_RIGHTALT, 1},
                               {SYN_REPORT, 0},
                               {KEY_RIGHTALT, 2},
                               {KEY_A, 1},
                               {KEY_LEFTALT, 1},
                               {KEY_RIGHTALT, 0},
                               {KEY_LEFTALT, 0}});
    // Auto-repeat is no new press; left Alt still held turns the release into one.
    EXPECT_EQ(seen, "PP");

    seen.clear();
    send("/dev/input/event1", {{KEY_RIGHTALT, 1}});
    ::close(writers["/dev/input/event1"]);
    writers.erase("/dev/input/event1");
    send("/dev/input/event2", {{KEY_RIGHTALT, 1}});
    EXPECT_EQ(seen, "PRP");
    devices.remove("/dev/input/event2");  // inotify saw the unplug first
    EXPECT_EQ(seen, "PRPR");
}

}  // namespace
}  // namespace zavren
