// The capsule's connection against a compositor played from a socket pair: what it
// offers decides capsule or notifications, and a compositor that goes away or talks
// nonsense leaves one log line and hints as notifications.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <cstdint>
#include <string>

#include "fakes/fake_ports.h"
#include "support/qt_app.h"
#include "wayland/panel/layer_shell_panel.h"
#include "wayland/panel/wayland_indicator.h"

namespace zavren {
namespace {

std::string u32(std::uint32_t v) {
    return std::string(reinterpret_cast<const char*>(&v), 4);
}
std::string message(std::uint32_t object, std::uint16_t opcode, const std::string& args) {
    return u32(object) + u32(static_cast<std::uint32_t>(args.size() + 8) << 16 | opcode) + args;
}
// wl_registry.global on the registry, id 2.
std::string global(std::uint32_t name, std::string interface, std::uint32_t version) {
    const auto length = static_cast<std::uint32_t>(interface.size() + 1);
    interface.resize((length + 3) / 4 * 4, '\0');
    return message(2, 0, u32(name) + u32(length) + interface + u32(version));
}
// wl_callback.done for the client's first sync, id 3: the end of its start-up round trip.
const std::string DONE = message(3, 0, u32(1));
const std::string DESKTOP =
    global(1, "wl_compositor", 4) + global(2, "wl_shm", 1) + global(3, "wl_output", 2);
const std::string LAYER_SHELL = global(4, "zwlr_layer_shell_v1", 4);

class LayerShell : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { static test::QtApp<QGuiApplication> qt; }
    ~LayerShell() override { ::close(compositor_); }

    // The compositor has said `says` before the panel connects.
    std::unique_ptr<LayerShellPanel> connect(const std::string& says) {
        int fds[2];
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
        ::close(compositor_);
        compositor_ = fds[1];
        EXPECT_EQ(::write(compositor_, says.data(), says.size()), ssize_t(says.size()));
        // libwayland takes a connected socket from here.
        ::setenv("WAYLAND_SOCKET", std::to_string(fds[0]).c_str(), 1);
        return std::make_unique<LayerShellPanel>(st, log);
    }
    // A dictation's show, hint and hide; what went out as notifications.
    std::vector<std::string> dictate(LayerShellPanel& capsule) {
        std::vector<std::string> notified;
        WaylandIndicator panel(
            capsule, [&] { return capsule.available(); },
            [&](const std::string& text, double secs) {
                notified.push_back(text + "/" + std::to_string(secs));
            });
        panel.setup();
        panel.show();
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
        panel.showHint("已复制", 4.0);
        panel.hide();
        return notified;
    }

    AppState st;
    fakes::FakeLog log;
    int compositor_ = -1;
};

TEST_F(LayerShell, TheCapsuleOnlyWhileTheCompositorOffersALayerShell) {
    const std::vector<std::string> notice{"已复制/" + std::to_string(4.0)};
    // What the compositor says, then how the connection breaks: it leaves, or sends
    // an event the registry does not have.
    for (auto [says, breaks, shown] : {std::tuple{DESKTOP + LAYER_SHELL + DONE, "", true},
                                       {DESKTOP + DONE, "", false},
                                       {DESKTOP + LAYER_SHELL + DONE, "gone", false},
                                       {DESKTOP + LAYER_SHELL + DONE, "nonsense", false}}) {
        log.lines.clear();
        auto capsule = connect(says);
        if (breaks == std::string("gone")) ::close(std::exchange(compositor_, -1));
        if (breaks == std::string("nonsense")) {
            EXPECT_EQ(::write(compositor_, message(2, 7, "").data(), 8), 8);
        }
        EXPECT_EQ(dictate(*capsule), shown ? std::vector<std::string>{} : notice) << breaks;
        EXPECT_EQ(capsule->available(), shown) << breaks;
        EXPECT_EQ(log.lines.size(), shown ? 0u : 1u) << breaks;
    }
}

}  // namespace
}  // namespace zavren
