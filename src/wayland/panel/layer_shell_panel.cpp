#include "wayland/panel/layer_shell_panel.h"

#include <poll.h>

#include <wayland-client.h>

#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "dictation/indicator_model.h"
#include "shared/constants.h"
#include "wayland/wlr-layer-shell-unstable-v1.h"

namespace zavren {

namespace {

// Whatever the compositor claims, the capsule's memory stays small.
constexpr int MAX_SCALE = 4;
constexpr int MAX_WIDTH = 2 * IndicatorPainter::WIDTH;
constexpr int MAX_HEIGHT = 2 * IndicatorPainter::HEIGHT;
constexpr std::size_t MAX_OUTPUTS = 16;

// Waits for the compositor to answer everything sent so far, at most `limit`.
bool roundtrip(wl_display* display, std::chrono::milliseconds limit) {
    bool done = false;
    wl_callback* sync = wl_display_sync(display);
    static const wl_callback_listener listener{
        .done = [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }};
    wl_callback_add_listener(sync, &listener, &done);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool ok = true;
    while (ok && !done) {
        while (ok && wl_display_prepare_read(display) != 0)
            ok = wl_display_dispatch_pending(display) >= 0;
        if (!ok || done) break;
        if (wl_display_flush(display) < 0 && errno != EAGAIN) {
            wl_display_cancel_read(display);
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{.fd = wl_display_get_fd(display), .events = POLLIN, .revents = 0};
        const int ready = left.count() > 0 ? ::poll(&p, 1, static_cast<int>(left.count())) : 0;
        if (ready > 0) {
            ok = wl_display_read_events(display) == 0;
        } else {
            wl_display_cancel_read(display);
            ok = ready < 0 && errno == EINTR;
        }
        if (ok) ok = wl_display_dispatch_pending(display) >= 0;
    }
    wl_callback_destroy(sync);
    return done;
}

}  // namespace

// The C listeners, in one place, each handing the event to the panel.
struct LayerShellCallbacks {
    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version) {
        static_cast<LayerShellPanel*>(data)->bindGlobal(registry, name, interface, version);
    }
    static void globalRemove(void* data, wl_registry*, std::uint32_t name) {
        static_cast<LayerShellPanel*>(data)->removeGlobal(name);
    }
    static void outputScale(void* data, wl_output* output, std::int32_t factor) {
        auto* self = static_cast<LayerShellPanel*>(data);
        for (auto& o : self->outputs_)
            if (o.proxy == output) o.scale = std::clamp(factor, 1, MAX_SCALE);
    }
    static void outputDone(void* data, wl_output*) { static_cast<LayerShellPanel*>(data)->draw(); }
    static void enter(void* data, wl_surface*, wl_output* output) {
        auto* self = static_cast<LayerShellPanel*>(data);
        const int before = self->scale();
        const bool known = std::any_of(self->outputs_.begin(), self->outputs_.end(),
                                       [output](const auto& o) { return o.proxy == output; });
        if (known &&
            std::find(self->entered_.begin(), self->entered_.end(), output) == self->entered_.end())
            self->entered_.push_back(output);
        if (self->scale() != before) self->draw();
    }
    static void leave(void* data, wl_surface*, wl_output* output) {
        auto& entered = static_cast<LayerShellPanel*>(data)->entered_;
        entered.erase(std::remove(entered.begin(), entered.end(), output), entered.end());
    }
    static void configure(void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial,
                          std::uint32_t width, std::uint32_t height) {
        zwlr_layer_surface_v1_ack_configure(layer, serial);
        static_cast<LayerShellPanel*>(data)->configured(
            static_cast<int>(std::min<std::uint32_t>(width, MAX_WIDTH)),
            static_cast<int>(std::min<std::uint32_t>(height, MAX_HEIGHT)));
    }
    // The compositor took the surface away (its output went, say); the next show()
    // asks for a new one.
    static void closed(void* data, zwlr_layer_surface_v1*) {
        static_cast<LayerShellPanel*>(data)->destroySurface();
    }
    static void frameDone(void* data, wl_callback* callback, std::uint32_t) {
        auto* self = static_cast<LayerShellPanel*>(data);
        wl_callback_destroy(callback);
        self->frame_ = nullptr;
        if (self->dirty_) self->draw();
    }

    static constexpr wl_registry_listener REGISTRY{.global = global, .global_remove = globalRemove};
    static constexpr wl_output_listener OUTPUT{
        .geometry = [](void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                       std::int32_t, const char*, const char*, std::int32_t) {},
        .mode = [](void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t) {},
        .done = outputDone,
        .scale = outputScale,
        .name = [](void*, wl_output*, const char*) {},
        .description = [](void*, wl_output*, const char*) {}};
    static constexpr wl_surface_listener SURFACE{.enter = enter, .leave = leave};
    static constexpr zwlr_layer_surface_v1_listener LAYER{.configure = configure, .closed = closed};
    static constexpr wl_callback_listener FRAME{.done = frameDone};
};

LayerShellPanel::LayerShellPanel(AppState& st, SystemLog& log, const char* display)
    : st_(st), log_(log) {
    // Every Wayland compositor composites: the shadow is drawn, no shape is cut.
    painter_.setComposited(true);
    display_ = wl_display_connect(display);
    if (!display_) {
        log_.line(LOG_PREFIX + "无法连接 Wayland 合成器,不显示指示浮窗,提示改为桌面通知");
        return;
    }
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &LayerShellCallbacks::REGISTRY, this);
    if (!roundtrip(display_, CONNECT_LIMIT) || !compositor_ || !shm_ || !layerShell_) {
        log_.line(LOG_PREFIX + "合成器未提供 layer-shell,不显示指示浮窗,提示改为桌面通知");
        disconnect();
        return;
    }
    const int fd = wl_display_get_fd(display_);
    readable_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(readable_.get(), &QSocketNotifier::activated, &painter_,
                     [this] { dispatch(); });
    writable_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    writable_->setEnabled(false);
    QObject::connect(writable_.get(), &QSocketNotifier::activated, &painter_, [this] { flush(); });
    QObject::connect(&painter_, &IndicatorPainter::changed, &painter_, [this] { draw(); });
    // The outputs' scales follow the globals just bound.
    flush();
}

LayerShellPanel::~LayerShellPanel() {
    disconnect();
}

void LayerShellPanel::bindGlobal(wl_registry* registry, std::uint32_t name, const char* interface,
                                 std::uint32_t version) {
    const std::string_view what(interface);
    if (what == wl_compositor_interface.name && !compositor_) {
        compositorVersion_ = std::min(version, 4u);
        compositor_ = static_cast<wl_compositor*>(
            wl_registry_bind(registry, name, &wl_compositor_interface, compositorVersion_));
    } else if (what == wl_shm_interface.name && !shm_) {
        shm_ = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (what == zwlr_layer_shell_v1_interface.name && !layerShell_) {
        layerShell_ = static_cast<zwlr_layer_shell_v1*>(
            wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, 1));
    } else if (what == wl_output_interface.name && version >= 2 && outputs_.size() < MAX_OUTPUTS) {
        auto* output =
            static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 2));
        wl_output_add_listener(output, &LayerShellCallbacks::OUTPUT, this);
        outputs_.push_back({output, name, 1});
    }
}

void LayerShellPanel::removeGlobal(std::uint32_t name) {
    auto it = std::find_if(outputs_.begin(), outputs_.end(),
                           [name](const auto& o) { return o.name == name; });
    if (it == outputs_.end()) return;
    entered_.erase(std::remove(entered_.begin(), entered_.end(), it->proxy), entered_.end());
    wl_output_destroy(it->proxy);
    outputs_.erase(it);
}

void LayerShellPanel::setup() {
    if (!available() || subscription_) return;
    // Hidden, nothing is measured or drawn: the fonts load at the first capsule.
    subscription_ = st_.subscribe([this](AppState::Field) {
        if (surface_) painter_.setModel(indicatorModel(st_));
    });
}

void LayerShellPanel::show() {
    if (!available() || surface_ || !subscription_) return;
    painter_.setModel(indicatorModel(st_));
    painter_.settle();
    createSurface();
    flush();
}

void LayerShellPanel::hide() {
    if (!surface_) return;
    destroySurface();
    flush();
}

void LayerShellPanel::createSurface() {
    surface_ = wl_compositor_create_surface(compositor_);
    wl_surface_add_listener(surface_, &LayerShellCallbacks::SURFACE, this);
    // An empty input region: every click goes to the window underneath.
    wl_region* none = wl_compositor_create_region(compositor_);
    wl_surface_set_input_region(surface_, none);
    wl_region_destroy(none);
    layer_ = zwlr_layer_shell_v1_get_layer_surface(
        layerShell_, surface_, nullptr, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "zavren-indicator");
    zwlr_layer_surface_v1_add_listener(layer_, &LayerShellCallbacks::LAYER, this);
    zwlr_layer_surface_v1_set_size(layer_, IndicatorPainter::WIDTH, IndicatorPainter::HEIGHT);
    zwlr_layer_surface_v1_set_anchor(layer_, ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM);
    zwlr_layer_surface_v1_set_margin(layer_, 0, 0, IndicatorPainter::BOTTOM_MARGIN, 0);
    // Measured from the screen's edge, not from above a docked bar, as on X11.
    zwlr_layer_surface_v1_set_exclusive_zone(layer_, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(
        layer_, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
    // The first commit carries no buffer: the compositor answers with a configure.
    wl_surface_commit(surface_);
}

void LayerShellPanel::destroySurface() {
    if (frame_) wl_callback_destroy(frame_);
    frame_ = nullptr;
    if (layer_) zwlr_layer_surface_v1_destroy(layer_);
    layer_ = nullptr;
    if (surface_) wl_surface_destroy(surface_);
    surface_ = nullptr;
    configured_ = false;
    dirty_ = false;
    entered_.clear();
    // Nothing of the capsule stays in memory while it is hidden.
    for (auto& b : buffers_) b.reset();
}

void LayerShellPanel::configured(int width, int height) {
    width_ = width > 0 ? width : IndicatorPainter::WIDTH;
    height_ = height > 0 ? height : IndicatorPainter::HEIGHT;
    configured_ = true;
    dirty_ = true;
    draw();
}

int LayerShellPanel::scale() const {
    int s = 1;
    for (const auto& o : outputs_)
        if (entered_.empty() ||
            std::find(entered_.begin(), entered_.end(), o.proxy) != entered_.end())
            s = std::max(s, o.scale);
    return s;
}

ShmBuffer* LayerShellPanel::idleBuffer(int width, int height) {
    for (auto& b : buffers_)
        if (b && !b->busy && b->width() == width && b->height() == height) return b.get();
    for (auto& b : buffers_) {
        if (b && b->busy) continue;
        b = ShmBuffer::create(shm_, width, height, [this] {
            if (dirty_ && !frame_) draw();
        });
        return b.get();
    }
    return nullptr;
}

// At most one picture per frame the compositor shows, and none while nothing changed.
void LayerShellPanel::draw() {
    if (!surface_ || !configured_ || broken_) return;
    dirty_ = true;
    if (frame_) return;
    const int s = compositorVersion_ >= 3 ? scale() : 1;
    ShmBuffer* buffer = idleBuffer(width_ * s, height_ * s);
    if (!buffer) return;
    QImage image = buffer->image();
    image.setDevicePixelRatio(s);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        // The capsule hugs the bottom of whatever size the compositor gave.
        p.translate((width_ - IndicatorPainter::WIDTH) / 2.0, height_ - IndicatorPainter::HEIGHT);
        painter_.paint(p);
    }
    if (compositorVersion_ >= 3) wl_surface_set_buffer_scale(surface_, s);
    wl_surface_attach(surface_, buffer->buffer(), 0, 0);
    wl_surface_damage(surface_, 0, 0, width_, height_);
    frame_ = wl_surface_frame(surface_);
    wl_callback_add_listener(frame_, &LayerShellCallbacks::FRAME, this);
    wl_surface_commit(surface_);
    buffer->busy = true;
    dirty_ = false;
    flush();
}

void LayerShellPanel::dispatch() {
    if (broken_) return;
    if (wl_display_prepare_read(display_) == 0 && wl_display_read_events(display_) < 0)
        return fail("read");
    if (wl_display_dispatch_pending(display_) < 0) return fail("dispatch");
    flush();
}

void LayerShellPanel::flush() {
    if (broken_ || !display_) return;
    if (wl_display_flush(display_) >= 0) {
        if (writable_) writable_->setEnabled(false);
    } else if (errno == EAGAIN) {
        // The socket is full: finish when it drains, never wait for it here.
        if (writable_) writable_->setEnabled(true);
    } else {
        fail("write");
    }
}

// Called from inside listeners too: the proxies go later, outside any dispatch.
void LayerShellPanel::fail(const char* what) {
    if (broken_) return;
    broken_ = true;
    const int error = wl_display_get_error(display_);
    log_.line(LOG_PREFIX + "指示浮窗的 Wayland 连接中断(" + what + ": " +
              std::strerror(error ? error : errno) + "),提示改为桌面通知");
    if (readable_) readable_->setEnabled(false);
    if (writable_) writable_->setEnabled(false);
    QTimer::singleShot(0, &painter_, [this] { disconnect(); });
}

void LayerShellPanel::disconnect() {
    if (!display_) return;
    destroySurface();
    readable_.reset();
    writable_.reset();
    for (auto& o : outputs_) wl_output_destroy(o.proxy);
    outputs_.clear();
    if (layerShell_) zwlr_layer_shell_v1_destroy(layerShell_);
    if (shm_) wl_shm_destroy(shm_);
    if (compositor_) wl_compositor_destroy(compositor_);
    if (registry_) wl_registry_destroy(registry_);
    wl_display_disconnect(display_);
    display_ = nullptr;
    registry_ = nullptr;
    compositor_ = nullptr;
    shm_ = nullptr;
    layerShell_ = nullptr;
}

}  // namespace zavren
