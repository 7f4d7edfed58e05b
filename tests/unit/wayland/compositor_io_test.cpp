#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>

#include "support/temp_dir.h"
#include "unix_socket.h"
#include "wayland/bounded_io.h"
#include "wayland/data_control_pasteboard.h"
#include "wayland/focused_app.h"
#include "wayland/virtual_keyboard.h"

namespace zavren {
namespace {

using namespace std::chrono_literals;

std::string swayFrame(std::uint32_t type, const std::string& payload) {
    const std::uint32_t header[2] = {static_cast<std::uint32_t>(payload.size()), type};
    return "i3-ipc" + std::string(reinterpret_cast<const char*>(header), sizeof header) + payload;
}

// A compositor's IPC socket that takes one request and answers `reply`, leaving the
// connection open as sway does (or closing it, as Hyprland does).
class FakeCompositor {
  public:
    FakeCompositor(const std::string& path, std::string reply, bool closeAfter) {
        fd_ = test::listenAt(path);
        thread_ = std::thread([this, reply = std::move(reply), closeAfter] {
            const int c = ::accept(fd_, nullptr, nullptr);
            char buf[64];
            const ssize_t n = ::read(c, buf, sizeof buf);
            request = std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
            (void)!::write(c, reply.data(), reply.size());
            if (closeAfter) ::close(c);
            // Held open otherwise: the client must stop on the length it was told.
        });
    }
    ~FakeCompositor() {
        thread_.join();
        ::close(fd_);
    }
    std::string request;

  private:
    int fd_;
    std::thread thread_;
};

TEST(FocusedAppFromCompositor, SpeaksEachIpcAndGivesUpOnBadAnswers) {
    test::TempDir dir;
    const std::string tree =
        R"({"nodes":[{"app_id":"x"},{"nodes":[{"focused":true,"app_id":"foot"}]}]})";
    std::string request;
    {
        FakeCompositor sway(dir / "sway.sock", swayFrame(4, tree) + "trailing", false);
        EXPECT_EQ(focusedAppFromCompositor({{"SWAYSOCK", dir / "sway.sock"}}, 2s), "foot");
        request = sway.request;
    }
    EXPECT_EQ(request, swayFrame(4, ""));
    const std::pair<const char*, std::string> bad[] = {
        {"short", swayFrame(4, tree).substr(0, 30)},
        {"other type", swayFrame(3, tree)},
        {"too long", swayFrame(4, std::string(17u << 20, ' '))}};
    for (const auto& [name, reply] : bad) {
        ::unlink((dir / "sway.sock").c_str());
        FakeCompositor sway(dir / "sway.sock", reply, true);
        EXPECT_EQ(focusedAppFromCompositor({{"SWAYSOCK", dir / "sway.sock"}}, 2s), "") << name;
    }
    ::mkdir((dir / "hypr").c_str(), 0700);
    ::mkdir((dir / "hypr/sig").c_str(), 0700);
    FakeCompositor hypr(dir / "hypr/sig/.socket.sock", R"({"class":"kitty","initialClass":"x"})",
                        true);
    EXPECT_EQ(focusedAppFromCompositor(
                  {{"XDG_RUNTIME_DIR", dir.path}, {"HYPRLAND_INSTANCE_SIGNATURE", "sig"}}, 2s),
              "kitty");
    const int silent = test::listenAt(dir / "s");  // never accepted: costs only the timeout
    EXPECT_EQ(focusedAppFromCompositor({{"SWAYSOCK", dir / "s"}}, 20ms), "");
    ::close(silent);
}

struct Pipe {
    int r = -1, w = -1;
    Pipe() {
        int ends[2];
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        r = ends[0];
        w = ends[1];
    }
    ~Pipe() {
        if (r >= 0) ::close(r);
        if (w >= 0) ::close(w);
    }
};

TEST(ReadBounded, WholeContentOrNothing) {
    // Written, whether the writer finishes, and what comes of a 3-byte limit.
    for (auto [bytes, closed, want, timedOut] :
         {std::tuple<std::string, bool, std::optional<std::string>, bool>{"abc", true, "abc",
                                                                          false},
          {"abcd", true, std::nullopt, false},
          {"ab", false, std::nullopt, true}}) {
        Pipe p;
        ASSERT_EQ(::write(p.w, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        if (closed) ::close(std::exchange(p.w, -1));
        bool late = false;
        EXPECT_EQ(readBounded(p.r, 3, closed ? 1s : 20ms, &late), want) << bytes;
        EXPECT_EQ(late, timedOut) << bytes;
    }
}

TEST(PendingWrite, FillsThePipeAPieceAtATimeAndSurvivesAReaderThatLeaves) {
    blockBrokenPipeSignal();
    const auto now = PendingWrite::Clock::now();
    auto big = std::make_shared<const std::string>(1u << 20, 'x');
    Pipe p;
    PendingWrite write(std::exchange(p.w, -1), big, now + 1h);
    EXPECT_FALSE(write.pump(now));  // the pipe holds far less than a MiB
    std::string got(1u << 20, '\0');
    EXPECT_GT(::read(p.r, got.data(), got.size()), 0);
    EXPECT_FALSE(write.pump(now));
    EXPECT_TRUE(write.pump(now + 1h));  // out of time
    Pipe gone;
    ::close(std::exchange(gone.r, -1));
    PendingWrite orphan(std::exchange(gone.w, -1), big, now + 1h);
    EXPECT_TRUE(orphan.pump(now));
    sigset_t pending;
    ::sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

TEST(OfferedFormats, TextUnderEveryTextTypeAndHintsOnlyOnTranscripts) {
    const auto transcript = offeredFormats({{"text/plain", "hi"}}, true);
    for (const char* type : {"text/plain;charset=utf-8", "UTF8_STRING", "STRING", "TEXT"}) {
        ASSERT_TRUE(transcript.count(type)) << type;
        EXPECT_EQ(*transcript.at(type), "hi") << type;
        EXPECT_TRUE(isTextType(type)) << type;
    }
    EXPECT_EQ(*transcript.at("x-kde-passwordManagerHint"), "secret");
    EXPECT_TRUE(transcript.count("org.nspasteboard.TransientType"));
    const auto restored = offeredFormats({{"image/png", "\x89PNG"}, {"text/html", "<b>"}}, false);
    EXPECT_EQ(restored.size(), 2u);
    EXPECT_FALSE(isTextType("image/png") || isTextType("text/html"));
    EXPECT_TRUE(offeredFormats({}, true).empty());
}

// The user's layout decides where "v" is; one without a Latin "v" falls back to US.
TEST(PasteKeymap, FindsTheKeyThatTypesV) {
    for (auto [layout, variant, v] :
         {std::tuple{"us", "", 47u}, {"us", "dvorak", 52u}, {"ru", "", 47u}}) {
        ::setenv("XKB_DEFAULT_LAYOUT", layout, 1);
        ::setenv("XKB_DEFAULT_VARIANT", variant, 1);
        auto keys = pasteKeymap();
        ::unsetenv("XKB_DEFAULT_LAYOUT");
        ::unsetenv("XKB_DEFAULT_VARIANT");
        ASSERT_TRUE(keys) << layout << variant;
        EXPECT_EQ(keys->v, v) << layout << variant;
        EXPECT_NE(keys->ctrl, 0u);
        EXPECT_NE(keys->shift, 0u);
        EXPECT_NE(keys->ctrl, keys->shift);
        EXPECT_NE(keys->keymap.find("xkb_keymap"), std::string::npos);
    }
}

}  // namespace
}  // namespace zavren
