// The compositor's replies name the focused window's application, which picks
// the paste keys. Any reply, however nested, gives a UTF-8 name taken from it.
#include "wayland/focused_app.h"
#include "check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto reply = fuzz::bytes(data, size);
    for (auto parse : {zavren::swayFocusedApp, zavren::hyprlandActiveApp}) {
        const std::string app = parse(reply);
        FUZZ_CHECK(fuzz::validUtf8(app));
        FUZZ_CHECK(app.size() <= reply.size());
    }
    return 0;
}
