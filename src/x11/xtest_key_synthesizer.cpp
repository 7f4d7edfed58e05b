#include "x11/xtest_key_synthesizer.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <vector>

#include "shared/trace.h"

namespace zavren {

namespace {

std::optional<WmClass> classOf(Display* d, Window w) {
    XClassHint hint{};
    if (!XGetClassHint(d, w, &hint)) return std::nullopt;
    WmClass out{hint.res_name ? hint.res_name : "", hint.res_class ? hint.res_class : ""};
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    return out;
}

// The focus often sits on a child of the application's window: walk up to the
// first window that carries WM_CLASS.
std::optional<WmClass> classUpwards(Display* d, Window w) {
    const Window root = DefaultRootWindow(d);
    for (int depth = 0; w != None && w != root && depth < 64; ++depth) {
        if (auto c = classOf(d, w)) return c;
        Window rootReturn = None, parent = None;
        Window* children = nullptr;
        unsigned int n = 0;
        if (!XQueryTree(d, w, &rootReturn, &parent, &children, &n)) return std::nullopt;
        if (children) XFree(children);
        w = parent;
    }
    return std::nullopt;
}

Window activeWindow(Display* d) {
    Atom prop = XInternAtom(d, "_NET_ACTIVE_WINDOW", True);
    if (prop == None) return None;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    Window w = None;
    if (XGetWindowProperty(d, DefaultRootWindow(d), prop, 0, 1, False, XA_WINDOW, &type, &format,
                           &count, &after, &data) == Success &&
        data && type == XA_WINDOW && format == 32 && count == 1)
        w = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
    if (data) XFree(data);
    return w;
}

bool isLockKey(Display* d, KeyCode kc) {
    switch (XkbKeycodeToKeysym(d, kc, 0, 0)) {
        case XK_Caps_Lock:
        case XK_Shift_Lock:
        case XK_Num_Lock:
        case XK_Scroll_Lock:
            return true;
        default:
            return false;
    }
}

// Modifier keys that are down right now (as the server sees them), except lock
// keys: pressing one of those again would toggle its lock.
std::vector<KeyCode> heldModifiers(Display* d) {
    std::vector<KeyCode> held;
    char keys[32] = {};
    XQueryKeymap(d, keys);
    XModifierKeymap* map = XGetModifierMapping(d);
    if (!map) return held;
    for (int row = 0; row < 8; ++row) {
        if (row == LockMapIndex) continue;
        for (int i = 0; i < map->max_keypermod; ++i) {
            KeyCode kc = map->modifiermap[row * map->max_keypermod + i];
            if (kc == 0 || !(keys[kc / 8] & (1 << (kc % 8))) || isLockKey(d, kc)) continue;
            if (std::find(held.begin(), held.end(), kc) == held.end()) held.push_back(kc);
        }
    }
    XFreeModifiermap(map);
    return held;
}

}  // namespace

XTestKeySynthesizer::XTestKeySynthesizer(std::shared_ptr<SyntheticKeyLedger> ledger)
    : ledger_(std::move(ledger)) {}

Display* XTestKeySynthesizer::display() {
    if (!display_) display_ = openDisplay();
    return display_.get();
}

std::optional<WmClass> XTestKeySynthesizer::focusedWmClass() {
    Display* d = display();
    if (!d) return std::nullopt;
    XErrorTrap trap(d);
    Window focus = None;
    int revert = 0;
    XGetInputFocus(d, &focus, &revert);
    std::optional<WmClass> c;
    if (focus != None && focus != PointerRoot) c = classUpwards(d, focus);
    // Some window managers focus their frame, above the client that has the class.
    if (!c) {
        if (Window active = activeWindow(d); active != None) c = classUpwards(d, active);
    }
    if (trap.failed()) return std::nullopt;
    return c;
}

std::vector<std::string> XTestKeySynthesizer::focusedApp() {
    const auto wmClass = focusedWmClass();
    if (!wmClass) return {};
    return {wmClass->instance, wmClass->className};
}

void XTestKeySynthesizer::postPaste(PasteKeys keys) {
    trace::mark("paste-begin");
    Display* d = display();
    if (!d) return;
    // The chord's modifiers, then its key.
    std::vector<KeyCode> chord;
    const bool insert = keys == PasteKeys::shiftInsert;
    if (!insert) chord.push_back(XKeysymToKeycode(d, XK_Control_L));
    if (keys != PasteKeys::ctrlV) chord.push_back(XKeysymToKeycode(d, XK_Shift_L));
    chord.push_back(XKeysymToKeycode(d, insert ? XK_Insert : XK_v));
    // A key missing from the keymap would make another chord of it.
    if (std::find(chord.begin(), chord.end(), KeyCode{0}) != chord.end()) return;

    const auto held = heldModifiers(d);
    const auto now = SyntheticKeyLedger::Clock::now();
    for (KeyCode kc : held) {
        ledger_->expect(kc, false, now);
        XTestFakeKeyEvent(d, kc, False, CurrentTime);
    }
    for (KeyCode kc : chord) XTestFakeKeyEvent(d, kc, True, CurrentTime);
    for (auto kc = chord.rbegin(); kc != chord.rend(); ++kc)
        XTestFakeKeyEvent(d, *kc, False, CurrentTime);
    for (KeyCode kc : held) {
        ledger_->expect(kc, true, now);
        XTestFakeKeyEvent(d, kc, True, CurrentTime);
    }
    XSync(d, False);
    trace::mark("paste-sent");
}

}  // namespace zavren
