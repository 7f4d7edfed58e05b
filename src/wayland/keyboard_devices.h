#pragma once

#include <linux/input.h>

#include <bitset>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dictation/hotkey.h"
#include "platform/input.h"

namespace zavren {

// One open input device. The seam between the decoder and libevdev.
class InputDevice {
  public:
    enum class ReadStatus { event, again, gone };
    virtual ~InputDevice() = default;
    virtual int fd() const = 0;
    virtual ReadStatus next(input_event& ev) = 0;
};

// Opens a keyboard that has one of the keys a user may choose, read-only and
// never grabbed; null when the path is no such device or cannot be read.
using DeviceOpener = std::function<std::unique_ptr<InputDevice>(const std::string& path)>;
std::unique_ptr<InputDevice> openEvdevKeyboard(const std::string& path);

// Every readable keyboard's chosen key (and left Alt), as the dictation key's
// events. Single-threaded: the owner polls fds() and calls onReadable().
class KeyboardDevices {
  public:
    KeyboardDevices(DeviceOpener open, std::function<void(HotkeyEvent)> emit);

    // Opens every event* entry of dir that is not open yet.
    void scan(const std::string& dir);
    void add(const std::string& path);
    void remove(const std::string& path);
    // From any thread, as the monitor's choose().
    void choose(HotkeyKey key) { tracker_.choose(key); }
    std::vector<int> fds() const;
    bool empty() const { return devices_.empty(); }
    void onReadable(int fd);

  private:
    struct Device {
        std::string path;
        std::unique_ptr<InputDevice> input;
        std::bitset<KEY_CNT> down;
    };
    void key(Device& device, unsigned code, bool press);
    void drop(int fd);

    DeviceOpener open_;
    std::function<void(HotkeyEvent)> emit_;
    std::map<int, Device> devices_;
    HotkeyTracker tracker_;
};

}  // namespace zavren
