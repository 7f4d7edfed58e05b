#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "shared/constants.h"
#include "support/temp_dir.h"
#include "wayland/focused_app.h"
#include "wayland/ptt_server.h"
#include "wayland/session.h"

namespace zavren {
namespace {

using Cmd = PttCommand;
using namespace std::chrono_literals;

// What a run of binding commands, a second apart unless `gap` says otherwise, does
// to the key: "P" press, "R" release, "C" cancel.
std::string effects(std::initializer_list<Cmd> commands, std::chrono::milliseconds gap = 1s) {
    PttKey key;
    std::string out;
    PttKey::Clock::time_point now;
    for (Cmd c : commands) {
        if (auto e = key.apply(c, now += gap)) out += "PRC"[static_cast<int>(*e)];
    }
    return out;
}

TEST(PttKey, RepeatsChangeNothingAndCancelLiftsWithoutRelease) {
    EXPECT_EQ(effects({Cmd::press, Cmd::press, Cmd::release, Cmd::release}), "PR");
    EXPECT_EQ(effects({Cmd::toggle, Cmd::toggle, Cmd::toggle}), "PRP");
    EXPECT_EQ(effects({Cmd::press, Cmd::cancel, Cmd::release, Cmd::toggle}), "PCP");
    EXPECT_EQ(effects({Cmd::press, Cmd::release, Cmd::press}, PttKey::REPRESS_GUARD - 1ms), "PR");
    EXPECT_EQ(effects({Cmd::press, Cmd::release, Cmd::press}, PttKey::REPRESS_GUARD), "PRP");
}

int connectTo(const std::string& path, bool bindInstead = false) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    auto* a = reinterpret_cast<sockaddr*>(&addr);
    int rc = bindInstead ? ::bind(fd, a, sizeof addr) : ::connect(fd, a, sizeof addr);
    return rc == 0 ? fd : -1;
}

class PttServerTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    std::string path = dir / "ptt.sock";
    std::vector<Cmd> received;
    std::optional<uid_t> peer = ::getuid();
    PttServer server{[this](Cmd c) { received.push_back(c); }, [this](int) { return peer; }};

    // Over the socket a crashed instance left behind.
    void SetUp() override {
        ::close(connectTo(path, true));
        std::string error;
        ASSERT_TRUE(server.listen(path, error)) << error;
    }

    // Sends bytes as a client, lets the server handle them, returns its answer.
    std::string exchange(const std::string& bytes) {
        int fd = connectTo(path);
        EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::shutdown(fd, SHUT_WR);
        server.onListenReadable();
        for (int round = 0; round < 4; ++round)
            for (int c : server.connectionFds()) server.onConnectionReadable(c);
        char buf[128];
        ssize_t n = ::read(fd, buf, sizeof buf);
        ::close(fd);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
    }
};

TEST_F(PttServerTest, AcceptsTheFourWordsOneLineEachFromAPrivateSocket) {
    EXPECT_EQ(exchange("press\n"), "ok\n");
    EXPECT_EQ(exchange("release\r\n"), "ok\n");
    EXPECT_EQ(exchange("toggle\nextra"), "ok\n");
    EXPECT_EQ(exchange("cancel\n"), "ok\n");
    EXPECT_EQ(received, (std::vector<Cmd>{Cmd::press, Cmd::release, Cmd::toggle, Cmd::cancel}));
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0, 0600u);
}

TEST_F(PttServerTest, RefusesBadInputAndOtherUsers) {
    EXPECT_EQ(exchange("PRESS\n"), "error: unknown command\n");
    EXPECT_EQ(exchange(std::string(PTT_MAX_LINE + 1, 'p') + "\n"), "error: line too long\n");
    peer = ::getuid() + 1;
    EXPECT_EQ(exchange("press\n"), "");
    EXPECT_TRUE(received.empty());
    EXPECT_TRUE(server.connectionFds().empty());
    std::ofstream(dir / "file") << "x";  // never replaced: only a stale socket is
    PttServer other{[](Cmd) {}};
    std::string error;
    EXPECT_FALSE(other.listen(dir / "file", error) || other.listen(dir / "no/ptt.sock", error));
}

TEST(SessionKind, WaylandWhenEitherVariableSaysSo) {
    EXPECT_EQ(sessionKind({{"WAYLAND_DISPLAY", ""}, {"DISPLAY", ":0"}}), SessionKind::x11);
    // XWayland sets DISPLAY too: the Wayland adapters still win.
    EXPECT_EQ(sessionKind({{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "w"}}), SessionKind::wayland);
    EXPECT_EQ(sessionKind({{"XDG_SESSION_TYPE", "wayland"}}), SessionKind::wayland);
}

TEST(FocusedApp, ReadsTheCompositorsAnswerAndSurvivesBadOnes) {
    const char* tree = R"({"nodes":[{"app_id":"x"},{"nodes":[{"focused":true,"app_id":"foot"}]}]})";
    EXPECT_EQ(swayFocusedApp(tree), "foot");
    EXPECT_EQ(swayFocusedApp(R"({"nodes":[{"nodes":"bad"}]})"), "");
    EXPECT_EQ(swayFocusedApp("{\"nodes\":[" + std::string(100000, '[')), "");
    EXPECT_EQ(hyprlandActiveApp(R"({"class":"kitty","initialClass":"x"})"), "kitty");
    EXPECT_EQ(hyprlandActiveApp(R"({"initialClass":"foot"})"), "foot");
}

}  // namespace
}  // namespace zavren
