#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

#include "shared/constants.h"
#include "support/temp_dir.h"
#include "wayland/ptt_server.h"

namespace zavren {
namespace {

using Cmd = PttCommand;

// What a run of binding commands does to the key: "P" press, "R" release, "C" cancel.
std::string effects(std::initializer_list<Cmd> commands) {
    PttKey key;
    std::string out;
    for (Cmd c : commands) {
        auto e = key.apply(c);
        if (e.flags && e.flags->keyCode == HOTKEY_CODE)
            out += e.flags->flags == OPTION_FLAG ? "P" : "R";
        if (e.cancel) out += "C";
    }
    return out;
}

TEST(PttKey, RepeatsChangeNothingAndCancelLiftsWithoutRelease) {
    EXPECT_EQ(effects({Cmd::press, Cmd::press, Cmd::release, Cmd::release}), "PR");
    EXPECT_EQ(effects({Cmd::toggle, Cmd::toggle, Cmd::toggle}), "PRP");
    EXPECT_EQ(effects({Cmd::press, Cmd::cancel, Cmd::release, Cmd::toggle}), "PCP");
}

int connectTo(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    return ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? fd : -1;
}

class PttServerTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    std::string path = dir / "ptt.sock";
    std::vector<Cmd> received;
    std::optional<uid_t> peer = ::getuid();
    PttServer server{[this](Cmd c) { received.push_back(c); }, [this](int) { return peer; }};

    void SetUp() override {
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
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(PttServerTest, RefusesBadInputAndOtherUsers) {
    EXPECT_EQ(exchange("PRESS\n"), "error: unknown command\n");
    EXPECT_EQ(exchange("press"), "");  // the client went away mid-line
    EXPECT_EQ(exchange(std::string(PTT_MAX_LINE + 1, 'p') + "\n"), "error: line too long\n");
    EXPECT_EQ(exchange(std::string(4096, 'x')), "error: line too long\n");
    peer = ::getuid() + 1;
    EXPECT_EQ(exchange("press\n"), "");
    peer = std::nullopt;
    EXPECT_EQ(exchange("press\n"), "");
    EXPECT_TRUE(received.empty());
    EXPECT_TRUE(server.connectionFds().empty());
}

TEST_F(PttServerTest, ClientsThatNeverFinishTheirLineAreDroppedOldestFirst) {
    std::vector<int> clients;
    for (std::size_t i = 0; i <= PttServer::MAX_CONNECTIONS; ++i) {
        clients.push_back(connectTo(path));
        server.onListenReadable();
    }
    EXPECT_EQ(server.connectionFds().size(), PttServer::MAX_CONNECTIONS);
    char buf[32];
    EXPECT_GT(::read(clients.front(), buf, sizeof buf), 0);  // told it was dropped
    for (int c : clients) ::close(c);
}

TEST(PttServerListen, ReplacesAStaleSocketButNoOtherFile) {
    test::TempDir dir;
    std::string error;
    {
        PttServer crashed{[](Cmd) {}};
        ASSERT_TRUE(crashed.listen(dir / "ptt.sock", error));
        ASSERT_EQ(::link((dir / "ptt.sock").c_str(), (dir / "left").c_str()), 0);
    }
    std::ofstream(dir / "file") << "x";
    PttServer server{[](Cmd) {}};
    EXPECT_FALSE(server.listen(dir / "file", error));
    EXPECT_TRUE(server.listen(dir / "left", error)) << error;
}

}  // namespace
}  // namespace zavren
