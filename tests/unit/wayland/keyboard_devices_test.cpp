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

// The kernel's record format through a pipe; the write end closing is the
// device going away.
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
    std::vector<FlagsEvent> events;
    KeyboardDevices devices{[this](const std::string& path) -> std::unique_ptr<InputDevice> {
                                if (path.find("event") == std::string::npos) return nullptr;
                                int p[2];
                                if (::pipe2(p, O_NONBLOCK) != 0) return nullptr;
                                writers[path] = p[1];
                                return std::make_unique<PipeDevice>(p[0]);
                            },
                            [this](const FlagsEvent& e) { events.push_back(e); }};

    void TearDown() override {
        for (auto& [path, fd] : writers) ::close(fd);
    }
    void send(const std::string& path, unsigned short type, unsigned short code, int value) {
        input_event ev{};
        ev.type = type;
        ev.code = code;
        ev.value = value;
        ASSERT_EQ(::write(writers.at(path), &ev, sizeof ev), static_cast<ssize_t>(sizeof ev));
    }
    void pump() {
        for (int fd : devices.fds()) devices.onReadable(fd);
    }
    // Each event as "61+" (Option bit set) or "61-".
    std::string seen() {
        std::string out;
        for (auto& e : events)
            out += std::to_string(e.keyCode) + (e.flags & OPTION_FLAG ? "+ " : "- ");
        events.clear();
        return out;
    }
};

TEST_F(KeyboardDevicesTest, AltKeysBecomeFlagsEventsAndRepeatIsNoNewPress) {
    devices.add("/dev/input/event3");
    devices.add("/dev/input/event3");  // opened once
    devices.add("/dev/input/mouse0");
    ASSERT_EQ(devices.fds().size(), 1u);
    const std::string kbd = "/dev/input/event3";
    send(kbd, EV_KEY, KEY_RIGHTALT, 1);
    send(kbd, EV_SYN, SYN_REPORT, 0);
    send(kbd, EV_KEY, KEY_RIGHTALT, 2);
    send(kbd, EV_KEY, KEY_A, 1);
    send(kbd, EV_KEY, KEY_LEFTALT, 1);
    send(kbd, EV_KEY, KEY_RIGHTALT, 0);
    send(kbd, EV_KEY, KEY_LEFTALT, 0);
    pump();
    EXPECT_EQ(seen(), "61+ 58+ 61+ 58- ");
}

TEST_F(KeyboardDevicesTest, AKeyboardThatGoesAwayMidPressLetsGo) {
    devices.add("/dev/input/event1");
    devices.add("/dev/input/event2");
    send("/dev/input/event1", EV_KEY, KEY_RIGHTALT, 1);
    pump();
    ::close(writers["/dev/input/event1"]);
    writers.erase("/dev/input/event1");
    pump();
    EXPECT_EQ(seen(), "61+ 61- ");
    EXPECT_EQ(devices.fds().size(), 1u);

    send("/dev/input/event2", EV_KEY, KEY_LEFTALT, 1);
    pump();
    devices.remove("/dev/input/event2");  // unplugged: inotify saw it first
    EXPECT_EQ(seen(), "58+ 58- ");
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
