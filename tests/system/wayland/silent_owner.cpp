// A hostile clipboard owner for the dictation test: it offers text and an image
// and, asked for either, takes the pipe and never writes nor closes it.
#include <wayland-client.h>

#include <cstring>
#include <initializer_list>

#include "wayland/wlr-data-control-unstable-v1.h"

namespace {

wl_seat* seat;
zwlr_data_control_manager_v1* manager;

void global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    if (std::strcmp(interface, wl_seat_interface.name) == 0)
        seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0)
        manager = static_cast<zwlr_data_control_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
}
void removed(void*, wl_registry*, uint32_t) {}
void send(void*, zwlr_data_control_source_v1*, const char*, int32_t) {}  // the fd leaks on purpose
void cancelled(void*, zwlr_data_control_source_v1*) {}

}  // namespace

int main() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return 1;
    static const wl_registry_listener registryListener{global, removed};
    wl_registry_add_listener(wl_display_get_registry(display), &registryListener, nullptr);
    wl_display_roundtrip(display);
    if (!seat || !manager) return 1;
    auto* source = zwlr_data_control_manager_v1_create_data_source(manager);
    for (const char* type : {"text/plain;charset=utf-8", "image/png"})
        zwlr_data_control_source_v1_offer(source, type);
    static const zwlr_data_control_source_v1_listener sourceListener{send, cancelled};
    zwlr_data_control_source_v1_add_listener(source, &sourceListener, nullptr);
    zwlr_data_control_device_v1_set_selection(
        zwlr_data_control_manager_v1_get_data_device(manager, seat), source);
    while (wl_display_dispatch(display) >= 0) {
    }
    return 0;
}
