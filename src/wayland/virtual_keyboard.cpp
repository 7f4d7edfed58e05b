#include "wayland/virtual_keyboard.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <memory>

#include "shared/constants.h"
#include "shared/trace.h"
#include "wayland/focused_app.h"
#include "wayland/virtual-keyboard-unstable-v1.h"

namespace zavren {

namespace {

// The compositor answers its IPC in about a millisecond; past this the paste
// goes out as Ctrl+V rather than wait.
constexpr std::chrono::milliseconds IPC_TIMEOUT{300};
// Evdev codes are X keycodes less 8.
constexpr std::uint32_t EVDEV_OFFSET = 8;

template <class T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const { Free(p); }
};
using Context = std::unique_ptr<xkb_context, Freer<xkb_context, xkb_context_unref>>;
using Keymap = std::unique_ptr<xkb_keymap, Freer<xkb_keymap, xkb_keymap_unref>>;

std::optional<PasteKeymap> keysOf(xkb_keymap* keymap) {
    PasteKeymap out;
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap);
         code <= xkb_keymap_max_keycode(keymap) && !out.v; ++code) {
        const xkb_keysym_t* syms = nullptr;
        const int n = xkb_keymap_key_get_syms_by_level(keymap, code, 0, 0, &syms);
        if (n == 1 && syms[0] == XKB_KEY_v) out.v = code - EVDEV_OFFSET;
    }
    const xkb_mod_index_t ctrl = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_CTRL);
    const xkb_mod_index_t shift = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
    if (!out.v || ctrl == XKB_MOD_INVALID || shift == XKB_MOD_INVALID) return std::nullopt;
    out.ctrl = 1u << ctrl;
    out.shift = 1u << shift;
    std::unique_ptr<char, decltype(&::free)> text(
        xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1), &::free);
    if (!text) return std::nullopt;
    out.keymap = text.get();
    return out;
}

// A sealed memory file holding the keymap: the compositor maps it read-only.
int keymapFile(const std::string& text) {
    const int fd = ::memfd_create("zavren-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return -1;
    const std::size_t size = text.size() + 1;  // with its NUL, as the protocol wants
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, text.c_str() + done, size - done);
        if (n <= 0) {
            ::close(fd);
            return -1;
        }
        done += static_cast<std::size_t>(n);
    }
    ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
    return fd;
}

std::uint32_t millis() {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

}  // namespace

std::optional<PasteKeymap> pasteKeymap() {
    Context context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (!context) return std::nullopt;
    Keymap keymap(xkb_keymap_new_from_names(context.get(), nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (keymap)
        if (auto keys = keysOf(keymap.get())) return keys;
    const xkb_rule_names us{nullptr, nullptr, "us", nullptr, nullptr};
    keymap.reset(xkb_keymap_new_from_names(context.get(), &us, XKB_KEYMAP_COMPILE_NO_FLAGS));
    return keymap ? keysOf(keymap.get()) : std::nullopt;
}

VirtualKeyboard::VirtualKeyboard(SystemLog& log, std::map<std::string, std::string> env)
    : log_(log), env_(std::move(env)) {}

bool VirtualKeyboard::isTrusted(bool prompt) {
    (void)prompt;  // there is no permission to ask for: the compositor decides
    const bool usable = connection_ && connection_->ready() && usable_;
    if (!usable && !told_) {
        told_ = true;
        log_.line(LOG_PREFIX + "此桌面不提供虚拟键盘,粘贴改经桌面门户");
    }
    return usable;
}

std::vector<std::string> VirtualKeyboard::focusedApp() {
    std::string app = focusedAppFromCompositor(env_, IPC_TIMEOUT);
    if (app.empty()) return {};
    return {std::move(app)};
}

void VirtualKeyboard::postPaste(PasteKeys keys) {
    trace::mark("paste-begin");
    // Only PRIMARY-pasting terminals ask for Shift+Insert, and no Wayland clipboard
    // here sets PRIMARY: typing nothing leaves the transcript for the user.
    if (!connection_ || keys == PasteKeys::shiftInsert) return;
    const bool shifted = keys == PasteKeys::ctrlShiftV;
    connection_->run([this, shifted] {
        if (!keyboard_) return;
        const std::uint32_t mods = keys_.ctrl | (shifted ? keys_.shift : 0);
        zwp_virtual_keyboard_v1_modifiers(keyboard_, mods, 0, 0, 0);
        zwp_virtual_keyboard_v1_key(keyboard_, millis(), keys_.v, WL_KEYBOARD_KEY_STATE_PRESSED);
        zwp_virtual_keyboard_v1_key(keyboard_, millis(), keys_.v, WL_KEYBOARD_KEY_STATE_RELEASED);
        zwp_virtual_keyboard_v1_modifiers(keyboard_, 0, 0, 0, 0);
        connection_->flush();
        trace::mark("paste-sent");
    });
}

void VirtualKeyboard::bound(WaylandConnection& connection,
                            const WaylandConnection::Globals& globals) {
    if (!globals.keyboards || !globals.seat) return;
    auto keys = pasteKeymap();
    const int fd = keys ? keymapFile(keys->keymap) : -1;
    if (fd < 0) {
        connection.dispatcher().post(
            [&log = log_] { log.line(LOG_PREFIX + "无法生成键盘布局,无法自动粘贴"); });
        return;
    }
    keys_ = std::move(*keys);
    keyboard_ =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(globals.keyboards, globals.seat);
    zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<std::uint32_t>(keys_.keymap.size() + 1));
    ::close(fd);  // the request carries a copy
    usable_ = true;
}

void VirtualKeyboard::closing() {
    usable_ = false;
    if (keyboard_) zwp_virtual_keyboard_v1_destroy(keyboard_);
    keyboard_ = nullptr;
}

}  // namespace zavren
