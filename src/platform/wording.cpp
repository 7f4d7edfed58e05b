#include "platform/wording.h"

#include "platform/desktop.h"

namespace zavren {

namespace {

constexpr Wording LINUX{
    .keyNames = {"右 Alt", "左 Alt", "右 Ctrl", "右 Super", "F13", "F14", "F15", "F16"},
    .keyWords = {"右 Alt", "左 Alt", "右 Ctrl", "右 Super", "F13", "F14", "F15", "F16"},
    .pasteChord = "Ctrl+V",
    .pasteAccess = "粘贴按键",
    .pasteAccessRow = "粘贴按键(XTest、虚拟键盘或桌面的远程输入)——把字放进光标处",
    .pasteAccessMissing = "⚠  无法模拟粘贴按键,字需手动粘贴 — 点此重新请求",
    .pasteByHandSuffix = "",
    .pasteAccessButton = "查看方法",
    .pasteAccessHelp =
        "ZAVREN 用模拟的 Ctrl+V 把字放进光标处:\n"
        "· X11:需要 XTest 扩展,常见的 X 服务器都带有。\n"
        "· Wayland:sway、Hyprland 等提供虚拟键盘,无需设置。\n"
        "· KDE Plasma、GNOME:经桌面的远程输入授权,第一次使用时桌面会询问,允许一次即可;"
        "拒绝后点菜单中的这一行可重新请求。\n"
        "做不到时,转写的字留在剪贴板上,按 Ctrl+V 即可粘贴。",
};

constexpr Wording MAC{
    .keyNames = {"右 ⌥", "左 ⌥", "右 ⌃", "右 ⌘", "F13", "F14", "F15", "F16"},
    .keyWords = {"右 Option", "左 Option", "右 Control", "右 Command", "F13", "F14", "F15", "F16"},
    .pasteChord = "⌘V",
    .pasteAccess = "辅助功能",
    .pasteAccessRow = "辅助功能——把文字放进光标处",
    .pasteAccessMissing = "⚠  缺「辅助功能」权限,字落不进光标 — 点此授权",
    .pasteByHandSuffix = " — 授权「辅助功能」后可自动落字",
    .pasteAccessButton = "打开设置",
    .pasteAccessHelp = "",
};

// The names compositors give these keys in their bindings.
constexpr std::array<std::string_view, HOTKEY_KEYS.size()> KEYSYMS = {
    "Alt_R", "Alt_L", "Control_R", "Super_R", "F13", "F14", "F15", "F16"};
// Hyprland matches a release with the key's own modifier already dropped.
constexpr std::array<std::string_view, HOTKEY_KEYS.size()> RELEASE_MODS = {
    "ALT", "ALT", "CTRL", "SUPER", "", "", "", ""};

}  // namespace

std::string Wording::keyName(HotkeyKey key) const {
    return std::string(keyNames.at(static_cast<std::size_t>(key)));
}

std::string Wording::keyWord(HotkeyKey key) const {
    return std::string(keyWords.at(static_cast<std::size_t>(key)));
}

std::string Wording::hold(HotkeyKey key, bool inSentence) const {
    const std::string name = inSentence ? keyWord(key) : keyName(key);
    // Latin text keeps a space from the Chinese before it.
    const bool latin = !name.empty() && static_cast<unsigned char>(name[0]) < 0x80;
    return (latin ? "按住 " : "按住") + name;
}

std::string Wording::pasteByHandHint() const {
    return "已转写并复制,按 " + std::string(pasteChord) + " 粘贴" + std::string(pasteByHandSuffix);
}

const Wording& linuxWording() {
    return LINUX;
}

const Wording& macWording() {
    return MAC;
}

const Wording& platformWording() {
#ifdef __APPLE__
    return MAC;
#else
    return LINUX;
#endif
}

void showPasteAccess(Desktop& desktop, const Wording& wording) {
    if (wording.pasteAccessHelp.empty()) return desktop.openAccessibilitySettings();
    desktop.activate();
    desktop.showAlert({"自动粘贴需要什么", std::string(wording.pasteAccessHelp), {"好"}}, nullptr);
}

std::string hotkeySetupHelp(HotkeyKey key) {
    const auto at = static_cast<std::size_t>(key);
    const std::string sym(KEYSYMS.at(at));
    const std::string mods(RELEASE_MODS.at(at));
    return "Wayland 下别的程序看不到按键,请任选一种接通(一次即可):\n"
           "· 把自己加入 input 组,然后重新登录:\n"
           "  sudo usermod -aG input $USER\n"
           "· 或在合成器里绑定按键,sway:\n"
           "  bindsym --no-repeat " +
           sym +
           " exec zavren ptt press\n"
           "  bindsym --release " +
           sym +
           " exec zavren ptt release\n"
           "  Hyprland:\n"
           "  bind = , " +
           sym +
           ", exec, zavren ptt press\n"
           "  bindr = " +
           mods + ", " + sym +
           ", exec, zavren ptt release\n"
           "· GNOME、KDE 的自定义快捷键只在按下时触发:绑定 zavren ptt toggle"
           "(按一次开始,再按一次结束)";
}

std::string hotkeyViaText(HotkeyVia via) {
    switch (via) {
        case HotkeyVia::portalShortcut:
            return "按键经桌面快捷键「按住说话」接通,可在系统设置的快捷键中改键";
        case HotkeyVia::keyboardDevices:
            return "按键经键盘设备(input 组)接通,在「按键」子菜单中改键";
        case HotkeyVia::binding:
            return "按键经合成器的按键绑定(zavren ptt)接通,在合成器配置中改键";
        case HotkeyVia::keyMonitor:
        case HotkeyVia::none:
            return "";
    }
    return "";
}

}  // namespace zavren
