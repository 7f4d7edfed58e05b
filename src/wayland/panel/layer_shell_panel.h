#pragma once

#include <QSocketNotifier>
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/log.h"
#include "platform/ui.h"
#include "qt/paint/indicator_painter.h"
#include "shared/app_state.h"
#include "wayland/panel/shm_buffer.h"

struct wl_callback;
struct wl_compositor;
struct wl_display;
struct wl_output;
struct wl_registry;
struct wl_shm;
struct wl_surface;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;

namespace zavren {

// The capsule on a layer surface of the compositor's overlay layer, bottom centre:
// no keyboard interactivity and an empty input region, so it never takes the
// focus and clicks fall through to the window below. It speaks Wayland on a
// connection of its own (Qt's windows are ordinary top-levels), read from the main
// loop without ever blocking it. The surface and its buffers exist only while shown.
class LayerShellPanel : public IndicatorPanel {
  public:
    // How long start-up waits for the compositor to list what it offers.
    static constexpr std::chrono::milliseconds CONNECT_LIMIT{1000};

    // Connects to `display` (null: $WAYLAND_DISPLAY). Without a layer shell, or when
    // the compositor does not answer in time, the panel is unavailable.
    LayerShellPanel(AppState& st, SystemLog& log, const char* display = nullptr);
    ~LayerShellPanel() override;
    LayerShellPanel(const LayerShellPanel&) = delete;
    LayerShellPanel& operator=(const LayerShellPanel&) = delete;

    // False without a layer shell, and for good once the connection broke.
    bool available() const { return layerShell_ && !broken_; }
    // Whether the compositor has placed the surface and been given a picture.
    bool onScreen() const { return surface_ && configured_ && !broken_; }

    void setup() override;
    void show() override;
    void hide() override;

  private:
    struct Output {
        wl_output* proxy;
        std::uint32_t name;
        int scale;
    };
    friend struct LayerShellCallbacks;

    void bindGlobal(wl_registry* registry, std::uint32_t name, const char* interface,
                    std::uint32_t version);
    void removeGlobal(std::uint32_t name);
    void createSurface();
    void destroySurface();
    void configured(int width, int height);
    void draw();
    ShmBuffer* idleBuffer(int width, int height);
    int scale() const;
    void dispatch();
    void flush();
    void fail(const char* what);
    void disconnect();

    AppState& st_;
    SystemLog& log_;
    IndicatorPainter painter_;
    AppState::Subscription subscription_;

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    std::uint32_t compositorVersion_ = 0;
    wl_shm* shm_ = nullptr;
    zwlr_layer_shell_v1* layerShell_ = nullptr;
    std::vector<Output> outputs_;
    std::unique_ptr<QSocketNotifier> readable_;
    std::unique_ptr<QSocketNotifier> writable_;
    bool broken_ = false;

    wl_surface* surface_ = nullptr;
    zwlr_layer_surface_v1* layer_ = nullptr;
    bool configured_ = false;
    int width_ = IndicatorPainter::WIDTH;
    int height_ = IndicatorPainter::HEIGHT;
    std::vector<wl_output*> entered_;
    wl_callback* frame_ = nullptr;
    bool dirty_ = false;
    std::array<std::unique_ptr<ShmBuffer>, 2> buffers_;
};

}  // namespace zavren
