#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fcntl.h>

#include <filesystem>
#include <fstream>

#include "shared/constants.h"
#include "support/temp_dir.h"
#include "unix_socket.h"
#include "wayland/focused_app.h"
#include "wayland/ptt_protocol.h"
#include "wayland/ptt_server.h"
#include "wayland/session.h"

namespace zavren {
namespace {

using Cmd = PttCommand;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

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

TEST(PttKey, APressOvertakenByItsReleaseStartsNothing) {
    PttKey key;
    const PttKey::Clock::time_point t = PttKey::Clock::time_point{} + 10s;
    EXPECT_FALSE(key.apply(Cmd::release, t, t - 2ms));
    EXPECT_FALSE(key.apply(Cmd::press, t + 1ms, t - 5ms));
    EXPECT_EQ(key.apply(Cmd::press, t + 1s, t + 1s), HotkeyEvent::press);
}

class PttServerTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    std::string path = dir / "ptt.sock";
    std::vector<Cmd> received;
    std::optional<uid_t> peer = ::getuid();
    std::vector<std::optional<PttKey::Clock::time_point>> stamps;
    PttServer server{[this](const PttMessage& m) {
                         received.push_back(m.command);
                         stamps.push_back(m.startedAt);
                     },
                     [this](int) { return peer; }};

    // Over the socket a crashed instance left behind.
    void SetUp() override {
        ::close(test::unixSocket(path, true));
        std::string error;
        ASSERT_TRUE(server.listen(path, error)) << error;
    }

    // Sends bytes as a client, lets the server handle them, returns its answer.
    std::string exchange(const std::string& bytes) {
        int fd = test::unixSocket(path, false);
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
    EXPECT_EQ(exchange("cancel 1500000000\n"), "ok\n");
    EXPECT_EQ(received, (std::vector<Cmd>{Cmd::press, Cmd::release, Cmd::toggle, Cmd::cancel}));
    EXPECT_EQ(stamps.back(), PttKey::Clock::time_point(1500ms));
    EXPECT_FALSE(stamps.front());
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0, 0600u);
}

TEST_F(PttServerTest, RefusesBadInputAndOtherUsers) {
    for (const char* bad : {"PRESS\n", "press -5\n", "press 12x\n", "press \n", "cancel\r\r\n"})
        EXPECT_EQ(exchange(bad), "error: unknown command\n") << bad;
    EXPECT_EQ(exchange(std::string(PTT_MAX_LINE + 1, 'p') + "\n"), "error: line too long\n");
    peer = ::getuid() + 1;
    EXPECT_EQ(exchange("press\n"), "");
    EXPECT_TRUE(received.empty());
    EXPECT_TRUE(server.connectionFds().empty());
    std::ofstream(dir / "file") << "x";  // never replaced: only a stale socket is
    PttServer other{[](const PttMessage&) {}};
    std::string error;
    EXPECT_FALSE(other.listen(dir / "file", error) || other.listen(dir / "no/ptt.sock", error));
}

// A listener nobody accepts from: what a stopped program looks like once its
// backlog is full.
TEST(PttClient, GivesUpOnAStoppedProgramAndNeverTalksToAnotherUser) {
    test::TempDir dir;
    const std::string path = dir / "ptt.sock";
    int listener = test::unixSocket(path, true);
    ASSERT_GE(listener, 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    std::vector<int> queued;
    for (int fd; queued.size() < 64 && (fd = test::unixSocket(path, false, SOCK_NONBLOCK)) >= 0;)
        queued.push_back(fd);
    EXPECT_EQ(pttCommand({"press"}, path), 3);
    for (int fd : queued) ::close(fd);
    ::close(listener);

    if (::geteuid() != 0) GTEST_SKIP() << "another user's listener needs root";
    ::chmod(dir.path.c_str(), 0711);
    const std::string shared = dir / "shared";
    fs::create_directory(shared);
    ::chmod(shared.c_str(), 01777);
    const std::string theirs = shared + "/ptt.sock";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    if (child == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(1);
        int fd = test::unixSocket(theirs, true);
        if (fd < 0 || ::listen(fd, 4) != 0) ::_exit(1);
        (void)!::write(ready[1], "r", 1);
        int c = ::accept(fd, nullptr, nullptr);
        char buf[16];
        ssize_t n = ::read(c, buf, sizeof buf);
        (void)!::write(c, "ok\n", 3);
        ::_exit(n > 0 ? 2 : 0);
    }
    ::close(ready[1]);
    char r = 0;
    ASSERT_EQ(::read(ready[0], &r, 1), 1);
    EXPECT_EQ(pttCommand({"release"}, theirs), 3);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the other user's listener received the command";
    ::close(ready[0]);
}

TEST(SessionKind, WaylandWhenEitherVariableSaysSo) {
    EXPECT_EQ(sessionKind({{"WAYLAND_DISPLAY", ""}, {"DISPLAY", ":0"}}), SessionKind::x11);
    // XWayland sets DISPLAY too: the Wayland adapters still win.
    EXPECT_EQ(sessionKind({{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "w"}}), SessionKind::wayland);
    EXPECT_EQ(sessionKind({{"XDG_SESSION_TYPE", "wayland"}}), SessionKind::wayland);
}

TEST(FocusedApp, ReadsTheCompositorsAnswerAndSurvivesBadOnes) {
    EXPECT_EQ(swayFocusedApp(R"({"nodes":[{"nodes":"bad"}]})"), "");
    EXPECT_EQ(swayFocusedApp("{\"nodes\":[" + std::string(100000, '[')), "");
    EXPECT_EQ(hyprlandActiveApp(R"({"initialClass":"foot"})"), "foot");
}

}  // namespace
}  // namespace zavren
