#include "qt/qt_pasteboard.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMimeData>
#include <algorithm>

// After Qt: Xlib's macros break Qt's headers.
#include <X11/Xlib.h>
#include <xcb/xproto.h>

namespace zavren {

namespace {

// Qt derives this one from the image formats itself; saving it would only duplicate bytes.
bool isDerived(const QString& type) {
    return type == QLatin1String("application/x-qt-image");
}

}  // namespace

QtPasteboard::QtPasteboard() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
    // Atoms are the same on every connection to a server, so a short-lived one will do.
    Display* d = XOpenDisplay(nullptr);
    if (!d) return;
    clipboardAtom_ = static_cast<unsigned>(XInternAtom(d, "CLIPBOARD", False));
    for (const char* name : {"UTF8_STRING", "STRING", "TEXT", "COMPOUND_TEXT", "text/plain",
                             "text/plain;charset=utf-8"})
        textTargets_.push_back(static_cast<unsigned>(XInternAtom(d, name, False)));
    XCloseDisplay(d);
    QCoreApplication::instance()->installNativeEventFilter(this);
    connect(QGuiApplication::clipboard(), &QClipboard::changed, this,
            [this](QClipboard::Mode mode) {
                if (mode == QClipboard::Clipboard) ++changes_;
            });
}

QtPasteboard::~QtPasteboard() {
    if (auto* app = QCoreApplication::instance()) app->removeNativeEventFilter(this);
}

std::vector<std::string> QtPasteboard::types() {
    std::vector<std::string> out;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data) return out;
    for (const QString& type : data->formats())
        if (!isDerived(type)) out.push_back(type.toStdString());
    return out;
}

std::optional<std::string> QtPasteboard::data(const std::string& type) {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    const QString t = QString::fromStdString(type);
    if (!data || !data->hasFormat(t)) return std::nullopt;
    return data->data(t).toStdString();
}

namespace {

QMimeData* mimeDataOf(const Pasteboard::Formats& formats, bool hinted) {
    auto* data = new QMimeData;
    for (const auto& [type, bytes] : formats)
        data->setData(QString::fromStdString(type), QByteArray::fromStdString(bytes));
    if (hinted) {
        data->setData(QtPasteboard::TRANSIENT_TYPE, QByteArray());
        data->setData(QtPasteboard::PASSWORD_HINT_TYPE, "secret");
    }
    return data;
}

}  // namespace

void QtPasteboard::set(const Formats& formats, Content content) {
    holdsTranscript_ = content == Content::pasted || content == Content::kept;
    primaryWatched_ = false;
    if (formats.empty()) {
        QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
        return;
    }
    QGuiApplication::clipboard()->setMimeData(mimeDataOf(formats, content == Content::pasted),
                                              QClipboard::Clipboard);
}

bool QtPasteboard::hasPrimary() {
    return clipboardAtom_ != 0 && QGuiApplication::clipboard()->supportsSelection();
}

void QtPasteboard::setPrimary(const std::string& text) {
    if (!hasPrimary()) return;
    QGuiApplication::clipboard()->setMimeData(mimeDataOf({{PASTEBOARD_TEXT_TYPE, text}}, true),
                                              QClipboard::Selection);
    primaryWatched_ = holdsTranscript_;
}

// Qt counts the changes the X server has told it of, and a notice still queued
// would be missed: a copy from another window also changes the owner, which the
// server is asked for directly.
std::optional<std::uint64_t> QtPasteboard::changeCount() {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->display() || !clipboardAtom_) return std::nullopt;
    const auto owner = static_cast<unsigned>(XGetSelectionOwner(x11->display(), clipboardAtom_));
    if (owner != owner_) {
        owner_ = owner;
        ++changes_;
    }
    return changes_;
}

void QtPasteboard::onFetched(std::function<void()> handler) {
    fetched_ = std::move(handler);
}

bool QtPasteboard::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (!holdsTranscript_ || eventType != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_SELECTION_REQUEST) return false;
    const auto* request = reinterpret_cast<const xcb_selection_request_event_t*>(event);
    const bool watched = request->selection == clipboardAtom_ ||
                         (primaryWatched_ && request->selection == XCB_ATOM_PRIMARY);
    if (!watched ||
        std::find(textTargets_.begin(), textTargets_.end(), request->target) == textTargets_.end())
        return false;
    // Qt answers the request after this filter; the notice goes out once it has.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (holdsTranscript_ && fetched_) fetched_();
        },
        Qt::QueuedConnection);
    return false;
}

}  // namespace zavren
