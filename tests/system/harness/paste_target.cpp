#include "paste_target.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>

namespace zavren {

using Clock = std::chrono::steady_clock;

PasteTarget::PasteTarget(const std::string& instance, const std::string& className, bool focusChild,
                         ms readDelay)
    : readDelay_(readDelay) {
    if (!d_) return;
    clipboard_ = XInternAtom(d_, "CLIPBOARD", False);
    utf8_ = XInternAtom(d_, "UTF8_STRING", False);
    property_ = XInternAtom(d_, "ZAVREN_PASTED", False);
    targets_ = XInternAtom(d_, "TARGETS", False);
    png_ = XInternAtom(d_, "image/png", False);
    window_ = XCreateSimpleWindow(d_, DefaultRootWindow(d_), 100, 100, 300, 200, 0, 0, 0xffffff);
    XSelectInput(d_, window_, KeyPressMask | StructureNotifyMask);
    XClassHint hint{const_cast<char*>(instance.c_str()), const_cast<char*>(className.c_str())};
    XSetClassHint(d_, window_, &hint);
    focus_ = window_;
    if (focusChild) {
        focus_ = XCreateSimpleWindow(d_, window_, 10, 10, 100, 50, 0, 0, 0xeeeeee);
        XSelectInput(d_, focus_, KeyPressMask);
        XMapWindow(d_, focus_);
    }
}

PasteTarget::~PasteTarget() {
    if (d_) XDestroyWindow(d_, window_);
}

// Handles X events until done() holds or the time is up.
template <typename Done>
bool PasteTarget::pump(ms timeout, Done done) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        while (XPending(d_) > 0) {
            XEvent ev;
            XNextEvent(d_, &ev);
            handle(ev);
        }
        if (Clock::now() >= deadline) return done();
        pollfd p{ConnectionNumber(d_), POLLIN, 0};
        ::poll(&p, 1, 20);
    }
    return true;
}

bool PasteTarget::show(ms timeout) {
    if (!d_) return false;
    XMapRaised(d_, window_);
    // A window manager focuses new windows itself, perhaps after we did: insist
    // until the focus stays where we put it.
    int stable = 0;
    return pump(timeout, [&] {
        XWindowAttributes a{};
        Window now = None;
        int revert = 0;
        XGetInputFocus(d_, &now, &revert);
        if (!XGetWindowAttributes(d_, window_, &a) || a.map_state != IsViewable) return false;
        if (now == focus_) return ++stable >= 3;
        stable = 0;
        XSetInputFocus(d_, focus_, RevertToParent, CurrentTime);
        XSync(d_, False);
        return false;
    });
}

bool PasteTarget::ownClipboard(const std::string& text, const std::string& png) {
    text_ = text;
    png_bytes_ = png;
    XSetSelectionOwner(d_, clipboard_, window_, CurrentTime);
    XSync(d_, False);
    return XGetSelectionOwner(d_, clipboard_) == window_;
}

std::optional<PasteTarget::Paste> PasteTarget::waitForPaste(ms timeout) {
    paste_.reset();
    pump(timeout, [&] {
        if (readAt_ && Clock::now() >= *readAt_) {
            readAt_.reset();
            XConvertSelection(d_, clipboard_, utf8_, property_, window_, CurrentTime);
            XFlush(d_);
        }
        return paste_.has_value();
    });
    return paste_;
}

void PasteTarget::answer(const XSelectionRequestEvent& req) {
    XSelectionEvent reply{SelectionNotify, 0,          True, req.display, req.requestor,
                          req.selection,   req.target, None, req.time};
    const std::string* bytes = req.target == utf8_ || req.target == XA_STRING ? &text_
                               : req.target == png_ && !png_bytes_.empty()    ? &png_bytes_
                                                                              : nullptr;
    Atom list[] = {utf8_, XA_STRING, png_};
    if (bytes) {
        XChangeProperty(d_, req.requestor, req.property, req.target, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(bytes->data()),
                        static_cast<int>(bytes->size()));
        reply.property = req.property;
    } else if (req.target == targets_) {
        XChangeProperty(d_, req.requestor, req.property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(list), png_bytes_.empty() ? 2 : 3);
        reply.property = req.property;
    }
    XSendEvent(d_, req.requestor, False, 0, reinterpret_cast<XEvent*>(&reply));
    XFlush(d_);
}

void PasteTarget::handle(XEvent& ev) {
    if (ev.type == KeyPress && XLookupKeysym(&ev.xkey, 0) == XK_v &&
        (ev.xkey.state & ControlMask)) {
        keyState_ = ev.xkey.state;
        readAt_ = Clock::now() + readDelay_;
    } else if (ev.type == SelectionRequest) {
        answer(ev.xselectionrequest);
    } else if (ev.type == SelectionNotify && ev.xselection.property != None) {
        Atom type = None;
        int format = 0;
        unsigned long n = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(d_, window_, property_, 0, 1 << 20, True, AnyPropertyType, &type,
                               &format, &n, &after, &data) == Success &&
            data) {
            paste_ = Paste{std::string(reinterpret_cast<char*>(data), n), keyState_};
            XFree(data);
        }
    }
}

}  // namespace zavren
