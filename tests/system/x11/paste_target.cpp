#include "paste_target.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>

#include <cstring>

namespace zavren {

namespace {

using Clock = std::chrono::steady_clock;

// Waits for X events until done() or the deadline, handling each with handle().
template <typename Done, typename Handle>
bool pump(Display* d, Clock::time_point deadline, Done done, Handle handle) {
    while (!done()) {
        while (XPending(d) > 0) {
            XEvent ev;
            XNextEvent(d, &ev);
            handle(ev);
            if (done()) return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return done();
        pollfd p{ConnectionNumber(d), POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(std::min<long>(left.count(), 20)));
    }
    return true;
}

}  // namespace

PasteTarget::PasteTarget(const std::string& instance, const std::string& className, bool focusChild,
                         std::chrono::milliseconds readDelay)
    : display_(openDisplay()), readDelay_(readDelay) {
    if (!display_) return;
    Display* d = display_.get();
    clipboard_ = XInternAtom(d, "CLIPBOARD", False);
    utf8_ = XInternAtom(d, "UTF8_STRING", False);
    property_ = XInternAtom(d, "ZAVREN_PASTED", False);
    targets_ = XInternAtom(d, "TARGETS", False);
    png_ = XInternAtom(d, "image/png", False);
    window_ = XCreateSimpleWindow(d, DefaultRootWindow(d), 100, 100, 300, 200, 0, 0, 0xffffff);
    XSelectInput(d, window_, KeyPressMask | StructureNotifyMask | FocusChangeMask);
    XClassHint hint{const_cast<char*>(instance.c_str()), const_cast<char*>(className.c_str())};
    XSetClassHint(d, window_, &hint);
    XStoreName(d, window_, "zavren paste target");
    if (focusChild) {
        child_ = XCreateSimpleWindow(d, window_, 10, 10, 100, 50, 0, 0, 0xeeeeee);
        XSelectInput(d, child_, KeyPressMask);
        XMapWindow(d, child_);
    }
}

PasteTarget::~PasteTarget() {
    if (display_ && window_ != None) XDestroyWindow(display_.get(), window_);
}

bool PasteTarget::show(std::chrono::milliseconds timeout) {
    if (!display_) return false;
    Display* d = display_.get();
    const auto deadline = Clock::now() + timeout;
    XMapRaised(d, window_);
    const Window focus = child_ != None ? child_ : window_;
    auto viewable = [&] {
        XWindowAttributes a{};
        return XGetWindowAttributes(d, window_, &a) && a.map_state == IsViewable;
    };
    if (!pump(d, deadline, viewable, [&](XEvent& ev) { handle(ev); })) return false;
    // A window manager focuses new windows itself, perhaps after we did: insist
    // until the focus stays where we put it.
    int stable = 0;
    auto focused = [&] {
        Window now = None;
        int revert = 0;
        XGetInputFocus(d, &now, &revert);
        if (now != focus) {
            stable = 0;
            XSetInputFocus(d, focus, RevertToParent, CurrentTime);
            XSync(d, False);
            return false;
        }
        return ++stable >= 3;
    };
    return pump(d, deadline, focused, [&](XEvent& ev) { handle(ev); });
}

bool PasteTarget::ownClipboard(const std::string& text, const std::string& png) {
    Display* d = display_.get();
    clipText_ = text;
    clipPng_ = png;
    XSetSelectionOwner(d, clipboard_, window_, CurrentTime);
    XSync(d, False);
    return XGetSelectionOwner(d, clipboard_) == window_;
}

std::optional<PasteTarget::Paste> PasteTarget::waitForPaste(std::chrono::milliseconds timeout) {
    paste_.reset();
    auto done = [&] {
        if (readAt_ && Clock::now() >= *readAt_) {
            readAt_.reset();
            XConvertSelection(display_.get(), clipboard_, utf8_, property_, window_, CurrentTime);
            XFlush(display_.get());
        }
        return paste_.has_value();
    };
    pump(display_.get(), Clock::now() + timeout, done, [&](XEvent& ev) { handle(ev); });
    return paste_;
}

void PasteTarget::handle(XEvent& ev) {
    Display* d = display_.get();
    switch (ev.type) {
        case KeyPress: {
            if (XLookupKeysym(&ev.xkey, 0) != XK_v || !(ev.xkey.state & ControlMask)) break;
            pendingState_ = ev.xkey.state;
            readAt_ = Clock::now() + readDelay_;
            break;
        }
        case SelectionRequest: {
            // We own the clipboard too: answer with the text.
            XSelectionRequestEvent& req = ev.xselectionrequest;
            XSelectionEvent reply{};
            reply.type = SelectionNotify;
            reply.requestor = req.requestor;
            reply.selection = req.selection;
            reply.target = req.target;
            reply.time = req.time;
            reply.property = None;
            const std::string* bytes = req.target == utf8_ || req.target == XA_STRING ? &clipText_
                                       : req.target == png_ && !clipPng_.empty()      ? &clipPng_
                                                                                      : nullptr;
            if (bytes) {
                XChangeProperty(d, req.requestor, req.property, req.target, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(bytes->data()),
                                static_cast<int>(bytes->size()));
                reply.property = req.property;
            } else if (req.target == targets_) {
                Atom list[] = {utf8_, XA_STRING, png_};
                XChangeProperty(d, req.requestor, req.property, XA_ATOM, 32, PropModeReplace,
                                reinterpret_cast<unsigned char*>(list), clipPng_.empty() ? 2 : 3);
                reply.property = req.property;
            }
            XSendEvent(d, req.requestor, False, 0, reinterpret_cast<XEvent*>(&reply));
            XFlush(d);
            break;
        }
        case SelectionNotify: {
            if (!pendingState_ || ev.xselection.property == None) break;
            Atom type = None;
            int format = 0;
            unsigned long n = 0, after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(d, window_, property_, 0, 1 << 20, True, AnyPropertyType, &type,
                                   &format, &n, &after, &data) == Success &&
                data) {
                paste_ = Paste{std::string(reinterpret_cast<char*>(data), n), *pendingState_};
                XFree(data);
            }
            pendingState_.reset();
            break;
        }
        default:
            break;
    }
}

}  // namespace zavren
