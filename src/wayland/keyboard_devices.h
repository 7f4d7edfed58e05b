#pragma once

#include <linux/input.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/input.h"
#include "x11/alt_keys.h"

namespace zavren {

// One open input device. The seam between the decoder and libevdev.
class InputDevice {
  public:
    enum class ReadStatus { event, again, gone };
    virtual ~InputDevice() = default;
    virtual int fd() const = 0;
    virtual ReadStatus next(input_event& ev) = 0;
};

// Opens a keyboard that has an Alt key, read-only and never grabbed; null when
// the path is no such device or cannot be read.
using DeviceOpener = std::function<std::unique_ptr<InputDevice>(const std::string& path)>;
std::unique_ptr<InputDevice> openEvdevKeyboard(const std::string& path);

// Every readable keyboard's Alt keys, as the flags events the controller knows.
// Single-threaded: the owner polls fds() and calls onReadable().
class KeyboardDevices {
  public:
    KeyboardDevices(DeviceOpener open, std::function<void(const FlagsEvent&)> emit);

    // Opens every event* entry of dir that is not open yet.
    void scan(const std::string& dir);
    void add(const std::string& path);
    void remove(const std::string& path);
    std::vector<int> fds() const;
    bool empty() const { return devices_.empty(); }
    void onReadable(int fd);

  private:
    struct Device {
        std::string path;
        std::unique_ptr<InputDevice> input;
        bool rightDown = false;
        bool leftDown = false;
    };
    void key(Device& device, unsigned code, bool press);
    void drop(int fd);

    DeviceOpener open_;
    std::function<void(const FlagsEvent&)> emit_;
    std::map<int, Device> devices_;
    AltKeyTracker tracker_;
};

}  // namespace zavren
