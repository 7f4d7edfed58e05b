// The installer where its faults would live in the real thing: curl against a
// loopback server, archives made by the system tar, a file system that fills up. Its decisions are
// checked on virtual time in the unit tests.
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "download_server.h"
#include "engine/installer/engine_installer.h"
#include "engine/locator.h"
#include "posix/curl_http_client.h"
#include "posix/run_loop.h"
#include "shared/files.h"
#include "support/temp_dir.h"
#include "unit/engine/engine_layout.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen() & 0xff);
    return s;
}

struct InstallerITest : ::testing::Test {
    test::TempDir tmp;
    std::string base = tmp / "dl", root = tmp / "root/engine", work = tmp / "work";
    std::string partial = root + "/download.partial", scratch = root + "/.extract-tmp";
    tools::DownloadServer server{tmp.path};
    RunLoopDispatcher dispatcher;
    CurlHttpClient http;
    std::unique_ptr<EngineInstaller> installer;

    void SetUp() override {
        fs::create_directories(base);
        fs::create_directories(work);
        ASSERT_TRUE(server.start(0));
        // The base has a path of its own so that joining is exercised.
        installer =
            std::make_unique<EngineInstaller>(dispatcher, http, root, server.baseUrl() + "/dl");
    }

    // An engine folder whose payload does not compress, packed and published.
    std::string pack(const std::string& version, std::size_t payload) {
        std::string dir = work + "/engine-" + version;
        test::makeLlama(dir);
        test::writeFile(dir + "/models/qwen3-asr.gguf", randomBytes(payload, 7));
        test::writeFile(dir + "/models/mmproj.gguf", version);
        EXPECT_EQ(std::system((std::string(ZAVREN_PACK_ENGINE) + " --base-url " + server.baseUrl() +
                               "/dl " + dir + " " + base + " >/dev/null")
                                  .c_str()),
                  0);
        return dir;
    }
    // Runs one attempt to its end; the failure message, or "" once installed.
    std::string install() {
        installer->start();
        auto ended = [&] {
            const auto& p = installer->phase();
            return p.is<InstallPhase::Done>() || p.is<InstallPhase::Failed>();
        };
        EXPECT_TRUE(dispatcher.runUntil(ended, std::chrono::seconds(120)));
        auto f = installer->phase().get<InstallPhase::Failed>();
        return f ? f->message : "";
    }
};

TEST_F(InstallerITest, InstallsBesideOtherVersionsAndReplacesTheSame) {
    fs::create_directories(root + "/engine-2.0/stale");
    fs::create_directories(root + "/engine-1.0");
    std::string src = pack("2.0", 300 * 1024);
    EXPECT_EQ(install(), "");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, "/dl/engine.json");
    EXPECT_EQ(requests[1].path, "/dl/engine-2.0.tar.gz");
    EXPECT_FALSE(requests[1].range);
    EXPECT_FALSE(fs::exists(partial) || fs::exists(scratch) ||
                 fs::exists(root + "/engine-2.0/stale"));
    EXPECT_TRUE(fs::is_directory(root + "/engine-1.0"));
    EXPECT_EQ(files::read(root + "/engine-2.0/models/qwen3-asr.gguf"),
              files::read(src + "/models/qwen3-asr.gguf"));
    auto found = EngineLocator::installed(root);
    ASSERT_TRUE(found);
    EXPECT_EQ(std::pair(found->version, found->kind),
              std::pair(std::string("2.0"), EngineKind::llama));
}

// A small tmpfs as the install root: the download is refused up front, and when
// the disk fills anyway it ends honestly and the retry resumes with a range.
TEST_F(InstallerITest, FullDiskIsForeseenOrEndsTheAttemptAndTheRetryResumes) {
    fs::create_directories(tmp / "root");
    if (::mount("tmpfs", (tmp / "root").c_str(), "tmpfs", 0, "size=2m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{tmp / "root"};

    pack("2.0", 3 * 1024 * 1024);
    const std::string bytes = *files::read(base + "/engine-2.0.tar.gz");
    EXPECT_EQ(install().rfind("磁盘空间不足:需要 ", 0), 0u);
    EXPECT_EQ(server.requests().size(), 1u) << "the download started anyway";

    installer->freeBytes = [](const std::string&) { return std::nullopt; };
    std::string message = install();
    EXPECT_EQ(message.rfind("下载中断:磁盘空间不足。已下 ", 0), 0u) << message;
    // Whatever stayed on disk is an exact prefix of the archive.
    const std::string kept = files::read(partial).value_or("");
    EXPECT_GT(kept.size(), 0u);
    EXPECT_EQ(kept, bytes.substr(0, kept.size()));

    ASSERT_EQ(::mount("tmpfs", (tmp / "root").c_str(), "tmpfs", MS_REMOUNT, "size=16m"), 0);
    EXPECT_EQ(install(), "");
    EXPECT_EQ(server.requests().back().range, "bytes=" + std::to_string(kept.size()) + "-");
    EXPECT_EQ(server.requests().back().status, 206);
}

}  // namespace
}  // namespace zavren
