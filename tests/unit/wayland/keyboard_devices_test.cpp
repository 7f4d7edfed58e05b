#include "wayland/keyboard_devices.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include <gtest/gtest.h>

#include "shared/constants.h"
#include "support/temp_dir.h"

namespace zavren {
namespace {

// The kernel's records through a pipe; the write end closing is the device going away.
class PipeDevice : public InputDevice {
  public:
    explicit PipeDevice(int fd) : fd_(fd) {}
    ~PipeDevice() override { ::close(fd_); }
    int fd() const override { return fd_; }
    ReadStatus next(input_event& ev) override {
        ssize_t n = ::read(fd_, &ev, sizeof ev);
        if (n == sizeof ev) return ReadStatus::event;
        return n < 0 && errno == EAGAIN ? ReadStatus::again : ReadStatus::gone;
    }

  private:
    int fd_;
};

class KeyboardDevicesTest : public ::testing::Test {
  protected:
    std::map<std::string, int> writers;  // device path -> write end
    std::string seen;                    // "61+ " a flags event with the Option bit, "61- " without
    KeyboardDevices devices{
        [this](const std::string& path) -> std::unique_ptr<InputDevice> {
            int p[2];
            if (path.find("event") == std::string::npos || ::pipe2(p, O_NONBLOCK) != 0)
                return nullptr;
            writers[path] = p[1];
            return std::make_unique<PipeDevice>(p[0]);
        },
        [this](const FlagsEvent& e) {
            seen += std::to_string(e.keyCode) + (e.flags & OPTION_FLAG ? "+ " : "- ");
        }};

    ~KeyboardDevicesTest() override {
        for (auto& [path, fd] : writers) ::close(fd);
    }
    void send(const std::string& path, std::initializer_list<std::pair<unsigned, int>> keys) {
        for (auto [code, value] : keys) {
            input_event ev{};
            ev.type = code == SYN_REPORT ? EV_SYN : EV_KEY;
            ev.code = static_cast<unsigned short>(code);
            ev.value = value;
            ASSERT_EQ(::write(writers.at(path), &ev, sizeof ev), ssize_t(sizeof ev));
        }
        for (int fd : devices.fds()) devices.onReadable(fd);
    }
};

TEST_F(KeyboardDevicesTest, AltKeysBecomeFlagsEventsAndRepeatIsNoNewPress) {
    devices.add("/dev/input/event3");
    devices.add("/dev/input/event3");  // opened once
    devices.add("/dev/input/mouse0");
    ASSERT_EQ(devices.fds().size(), 1u);
    send("/dev/input/event3", {{KEY_RIGHTALT, 1},
                               {SYN_REPORT, 0},
                               {KEY_RIGHTALT, 2},
                               {KEY_A, 1},
                               {KEY_LEFTALT, 1},
                               {KEY_RIGHTALT, 0},
                               {KEY_LEFTALT, 0}});
    EXPECT_EQ(seen, "61+ 58+ 61+ 58- ");
}

TEST_F(KeyboardDevicesTest, AKeyboardThatGoesAwayMidPressLetsGo) {
    devices.add("/dev/input/event1");
    devices.add("/dev/input/event2");
    send("/dev/input/event1", {{KEY_RIGHTALT, 1}});
    ::close(writers["/dev/input/event1"]);
    writers.erase("/dev/input/event1");
    send("/dev/input/event2", {{KEY_LEFTALT, 1}});
    EXPECT_EQ(seen, "61+ 61- 58+ ");
    devices.remove("/dev/input/event2");  // inotify saw the unplug first
    EXPECT_EQ(seen, "61+ 61- 58+ 58- ");
    EXPECT_TRUE(devices.empty());
}

TEST_F(KeyboardDevicesTest, ScanOpensEveryEventNode) {
    test::TempDir dir;
    for (const char* name : {"event0", "event7", "mouse0", "by-id"}) std::ofstream(dir / name);
    devices.scan(dir.path);
    EXPECT_EQ(devices.fds().size(), 2u);
}

}  // namespace
}  // namespace zavren
