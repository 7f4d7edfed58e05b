// The installer against a real loopback server, real curl, real tar.
#include <openssl/sha.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "download_server.h"
#include "engine/installer/engine_installer.h"
#include "engine/locator.h"
#include "posix/curl_http_client.h"
#include "posix/process_launcher.h"
#include "posix/run_loop.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;
using tools::DownloadServer;
using tools::Misbehaviour;

const std::string PACK_ENGINE = ZAVREN_PACK_ENGINE;
const std::string CORRUPT = "校验失败(文件损坏),已清理,请重试";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string sha256Hex(const std::string& bytes) {
    unsigned char d[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), d);
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned char c : d) {
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen() & 0xff);
    return s;
}

int sh(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct InstallerITest : ::testing::Test {
    std::string tmp, downloads, root, work;
    DownloadServer* server = nullptr;
    std::unique_ptr<DownloadServer> serverOwner;
    RunLoopDispatcher dispatcher;
    CurlHttpClient http;
    PosixProcessLauncher launcher;
    std::unique_ptr<EngineInstaller> installer;
    int doneCalls = 0;
    std::vector<std::string> failures;

    void SetUp() override {
        std::string t = fs::temp_directory_path().string() + "/zavren-itest-XXXXXX";
        tmp = ::mkdtemp(t.data());
        downloads = tmp + "/downloads";
        root = tmp + "/root/engine";
        work = tmp + "/work";
        fs::create_directories(downloads);
        fs::create_directories(work);
        serverOwner = std::make_unique<DownloadServer>(downloads);
        server = serverOwner.get();
        ASSERT_TRUE(server->start(0));
        makeInstaller();
    }
    void TearDown() override {
        installer.reset();
        serverOwner.reset();
        fs::remove_all(tmp);
    }
    void makeInstaller() {
        installer = std::make_unique<EngineInstaller>(dispatcher, http, launcher, root,
                                                      server->baseUrl() + "/dl-base");
        installer->onDone = [this] { ++doneCalls; };
        // The base has one extra component so that joining is exercised; serve it.
        fs::create_directories(downloads + "/dl-base");
    }
    std::string base() const { return downloads + "/dl-base"; }

    // A llama engine folder with a payload that does not compress.
    std::string makeEngine(const std::string& version, std::size_t payload) {
        std::string dir = work + "/engine-" + version;
        fs::create_directories(dir + "/bin");
        fs::create_directories(dir + "/models");
        writeFile(dir + "/bin/llama-server", "#!/bin/sh\n");
        fs::permissions(dir + "/bin/llama-server", fs::perms::owner_all);
        writeFile(dir + "/models/qwen3-asr.gguf", randomBytes(payload, 7));
        writeFile(dir + "/models/mmproj.gguf", version);
        return dir;
    }
    void pack(const std::string& engineDir) {
        ASSERT_EQ(sh(PACK_ENGINE + " --base-url " + server->baseUrl() + "/dl-base " + engineDir +
                     " " + base() + " >/dev/null"),
                  0);
    }
    // engine.json by hand, for archives the packing tool would refuse.
    std::string publish(const std::string& name, const std::string& bytes,
                        std::optional<std::string> sha = std::nullopt) {
        writeFile(base() + "/" + name, bytes);
        writeFile(base() + "/engine.json", R"({"version":"x","url":")" + server->baseUrl() +
                                               "/dl-base/" + name + R"(","sha256":")" +
                                               sha.value_or(sha256Hex(bytes)) + R"(","size":)" +
                                               std::to_string(bytes.size()) + "}");
        return base() + "/" + name;
    }
    std::string archivePath(const std::string& version) const {
        return base() + "/engine-" + version + ".tar.gz";
    }

    // Starts an attempt and runs the main queue until it ends.
    InstallPhase install() {
        installer->start();
        bool ended = dispatcher.runUntil(
            [&] {
                return installer->phase().is<InstallPhase::Done>() ||
                       installer->phase().is<InstallPhase::Failed>();
            },
            std::chrono::seconds(120));
        EXPECT_TRUE(ended);
        return installer->phase();
    }
    static std::string message(const InstallPhase& p) {
        auto f = p.get<InstallPhase::Failed>();
        return f ? f->message : "(not failed)";
    }
    std::vector<tools::ServedRequest> archiveRequests() const {
        std::vector<tools::ServedRequest> out;
        for (const auto& r : server->requests())
            if (r.path.ends_with(".tar.gz")) out.push_back(r);
        return out;
    }
    std::string partial() const { return root + "/download.partial"; }
    std::string scratch() const { return root + "/.extract-tmp"; }
};

TEST_F(InstallerITest, FreshInstall) {
    std::string src = makeEngine("2.0", 300 * 1024);
    pack(src);
    InstallPhase p = install();
    ASSERT_TRUE(p.is<InstallPhase::Done>()) << message(p);
    EXPECT_EQ(doneCalls, 1);
    auto requests = server->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, "/dl-base/engine.json");
    EXPECT_FALSE(requests[0].range);
    EXPECT_EQ(requests[1].path, "/dl-base/engine-2.0.tar.gz");
    EXPECT_FALSE(requests[1].range);
    EXPECT_FALSE(fs::exists(partial()));
    EXPECT_FALSE(fs::exists(scratch()));
    EXPECT_EQ(readFile(root + "/engine-2.0/models/qwen3-asr.gguf"),
              readFile(src + "/models/qwen3-asr.gguf"));
    auto found = EngineLocator::installed(root);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->version, "2.0");
    EXPECT_EQ(found->kind, EngineKind::llama);
}

TEST_F(InstallerITest, ResumeAfterTheServerDropsTheConnection) {
    pack(makeEngine("2.0", 2 * 1024 * 1024));
    const auto size = static_cast<std::int64_t>(fs::file_size(archivePath("2.0")));
    const std::int64_t cut = size * 2 / 5;
    Misbehaviour m;
    m.dropAfter = cut;
    m.dropOnce = true;
    m.only = "engine-2.0.tar.gz";
    server->setMisbehaviour(m);

    InstallPhase first = install();
    EXPECT_EQ(message(first).rfind("下载中断:", 0), 0u) << message(first);
    EXPECT_NE(message(first).find("。已下 1 MB,点重试从断点继续"), std::string::npos)
        << message(first);
    EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(partial())), cut);

    InstallPhase second = install();
    ASSERT_TRUE(second.is<InstallPhase::Done>()) << message(second);
    auto archive = archiveRequests();
    ASSERT_EQ(archive.size(), 2u);
    EXPECT_EQ(archive[1].range, "bytes=" + std::to_string(cut) + "-");
    EXPECT_EQ(archive[1].status, 206);
    EXPECT_EQ(doneCalls, 1);
}

TEST_F(InstallerITest, FullAnswerToTheRangedRequest) {
    pack(makeEngine("2.0", 1024 * 1024));
    std::string bytes = readFile(archivePath("2.0"));
    fs::create_directories(root);
    writeFile(partial(), bytes.substr(0, bytes.size() / 3));
    Misbehaviour m;
    m.ignoreRange = true;
    server->setMisbehaviour(m);
    InstallPhase p = install();
    ASSERT_TRUE(p.is<InstallPhase::Done>()) << message(p);
    auto archive = archiveRequests();
    ASSERT_EQ(archive.size(), 1u);
    EXPECT_EQ(archive[0].range, "bytes=" + std::to_string(bytes.size() / 3) + "-");
    EXPECT_EQ(archive[0].status, 200);
}

TEST_F(InstallerITest, CompletePartialIsDiscardedFirst) {
    pack(makeEngine("2.0", 100 * 1024));
    fs::create_directories(root);
    fs::copy_file(archivePath("2.0"), partial());
    InstallPhase p = install();
    ASSERT_TRUE(p.is<InstallPhase::Done>()) << message(p);
    auto archive = archiveRequests();
    ASSERT_EQ(archive.size(), 1u);
    EXPECT_FALSE(archive[0].range);
}

TEST_F(InstallerITest, UppercaseDigestIsAMismatch) {
    pack(makeEngine("2.0", 100 * 1024));
    std::string bytes = readFile(archivePath("2.0"));
    std::string upper = sha256Hex(bytes);
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    publish("engine-2.0.tar.gz", bytes, upper);
    InstallPhase p = install();
    EXPECT_EQ(message(p), CORRUPT);
    EXPECT_FALSE(fs::exists(partial()));
    EXPECT_FALSE(fs::exists(root + "/engine-2.0"));
}

TEST_F(InstallerITest, MissingManifestIsAResponseError) {
    InstallPhase p = install();  // the server answers 404 with an HTML page
    EXPECT_EQ(message(p), "无法获取引擎信息:响应异常,请检查网络后重试");
    ASSERT_EQ(server->requests().size(), 1u);
    EXPECT_EQ(server->requests()[0].status, 404);
}

TEST_F(InstallerITest, UnreachableServerNamesTheTransportError) {
    int port = server->port();
    serverOwner.reset();
    installer.reset();
    installer = std::make_unique<EngineInstaller>(dispatcher, http, launcher, root,
                                                  "http://127.0.0.1:" + std::to_string(port));
    InstallPhase p = install();
    EXPECT_EQ(message(p).rfind("无法获取引擎信息:", 0), 0u);
    EXPECT_TRUE(message(p).ends_with(",请检查网络后重试"));
    EXPECT_EQ(message(p).find("响应异常"), std::string::npos) << message(p);
}

TEST_F(InstallerITest, ServerErrorKeepsTheResumableBytes) {
    pack(makeEngine("2.0", 3 * 1024 * 1024));
    std::string bytes = readFile(archivePath("2.0"));
    fs::create_directories(root);
    writeFile(partial(), bytes.substr(0, 2 * 1048576));
    Misbehaviour m;
    m.status = 503;
    m.only = "engine-2.0.tar.gz";
    server->setMisbehaviour(m);
    InstallPhase p = install();
    EXPECT_EQ(message(p), "下载中断:服务器返回 HTTP 503。已下 2 MB,点重试从断点继续");
    EXPECT_EQ(readFile(partial()), bytes.substr(0, 2 * 1048576));

    server->setMisbehaviour({});
    InstallPhase retry = install();
    ASSERT_TRUE(retry.is<InstallPhase::Done>()) << message(retry);
    EXPECT_EQ(archiveRequests().back().range, "bytes=2097152-");
}

TEST_F(InstallerITest, ReplacedArchiveAnswering416StartsOverOnRetry) {
    std::string bytes = randomBytes(50000, 3);
    fs::create_directories(root);
    writeFile(partial(), randomBytes(60000, 4));  // longer than the server's new file...
    // ...yet shorter than the manifest claims, so it is resumed and the range misses.
    writeFile(base() + "/a.tar.gz", bytes);
    writeFile(base() + "/engine.json", R"({"version":"x","url":")" + server->baseUrl() +
                                           R"(/dl-base/a.tar.gz","sha256":")" + sha256Hex(bytes) +
                                           R"(","size":100000})");
    InstallPhase p = install();
    EXPECT_EQ(message(p), CORRUPT);
    EXPECT_FALSE(fs::exists(partial()));
    EXPECT_EQ(archiveRequests().back().status, 416);
}

TEST_F(InstallerITest, CorruptGzipWithTheRightDigest) {
    publish("engine-2.0.tar.gz", randomBytes(40000, 9));
    InstallPhase p = install();
    EXPECT_EQ(message(p), "解压失败(tar exit 2),请重试");
    EXPECT_TRUE(fs::exists(partial()));
}

TEST_F(InstallerITest, ArchiveWithoutAnEngineFolder) {
    fs::create_directories(work + "/stuff");
    writeFile(work + "/stuff/readme", "hello");
    ASSERT_EQ(sh("tar -czf " + work + "/stuff.tar.gz -C " + work + " stuff"), 0);
    publish("stuff.tar.gz", readFile(work + "/stuff.tar.gz"));
    InstallPhase p = install();
    EXPECT_EQ(message(p), "引擎包结构异常(未找到 engine-* 目录),请重试");
    EXPECT_TRUE(fs::exists(partial()));
    EXPECT_TRUE(fs::exists(scratch() + "/stuff/readme"));

    InstallPhase retry = install();
    EXPECT_EQ(message(retry), "引擎包结构异常(未找到 engine-* 目录),请重试");
    auto archive = archiveRequests();
    ASSERT_EQ(archive.size(), 2u);
    EXPECT_FALSE(archive[1].range);  // the complete partial was discarded
}

TEST_F(InstallerITest, SameVersionIsReplacedOtherVersionsStay) {
    fs::create_directories(root + "/engine-2.0/stale");
    fs::create_directories(root + "/engine-1.0/bin");
    writeFile(root + "/engine-1.0/bin/keep", "old");
    pack(makeEngine("2.0", 10 * 1024));
    InstallPhase p = install();
    ASSERT_TRUE(p.is<InstallPhase::Done>()) << message(p);
    EXPECT_FALSE(fs::exists(root + "/engine-2.0/stale"));
    EXPECT_TRUE(fs::exists(root + "/engine-2.0/bin/llama-server"));
    EXPECT_EQ(readFile(root + "/engine-1.0/bin/keep"), "old");
}

TEST_F(InstallerITest, HostileArchivesAreRefused) {
    const std::string victim = tmp + "/victim";
    struct Case {
        const char* what;
        std::string build;  // shell commands run in `work`
    };
    std::vector<Case> cases = {
        {"relative symlink out, then a file through it",
         "mkdir -p engine-3.0 && ln -s ../../../../victim engine-3.0/out && "
         "tar -cf h.tar engine-3.0 && rm engine-3.0/out && mkdir engine-3.0/out && "
         "echo pwned > engine-3.0/out/file && tar -rf h.tar engine-3.0/out/file && "
         "gzip -c h.tar > h.tar.gz"},
        {"dot-dot member",
         "mkdir -p engine-3.0 && echo pwned > payload && tar -czf h.tar.gz engine-3.0 "
         "--transform='s,^payload,engine-3.0/../../../../victim,' payload 2>/dev/null"},
        {"absolute member",
         "mkdir -p engine-3.0 && echo pwned > engine-3.0/a && tar -czPf h.tar.gz engine-3.0 "
         "--transform='s,^engine-3.0/a$," +
             victim + ",' 2>/dev/null"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(work);
        fs::create_directories(work);
        ASSERT_EQ(sh("cd " + work + " && (" + c.build + ")"), 0);
        publish("engine-3.0.tar.gz", readFile(work + "/h.tar.gz"));
        InstallPhase p = install();
        EXPECT_EQ(message(p).rfind("解压失败:引擎包含有不安全的条目", 0), 0u) << message(p);
        EXPECT_FALSE(fs::exists(victim));
        EXPECT_FALSE(fs::exists(tmp + "/root/victim"));
        EXPECT_FALSE(fs::exists(root + "/engine-3.0"));
        EXPECT_TRUE(fs::is_empty(scratch()));
        fs::remove(partial());
    }
}

// A small tmpfs as the install root: the transfer must end honestly when it fills.
TEST_F(InstallerITest, DiskFullEndsTheAttemptAndTheRetryResumes) {
    fs::create_directories(tmp + "/root");
    if (::mount("tmpfs", (tmp + "/root").c_str(), "tmpfs", 0, "size=2m") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root or CAP_SYS_ADMIN): "
                     << std::strerror(errno);
    }
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{tmp + "/root"};

    pack(makeEngine("2.0", 3 * 1024 * 1024));
    const std::string bytes = readFile(archivePath("2.0"));
    InstallPhase p = install();
    EXPECT_EQ(message(p).rfind("下载中断:磁盘空间不足。已下 ", 0), 0u) << message(p);
    EXPECT_TRUE(message(p).ends_with(",点重试从断点继续"));
    // Whatever stayed on disk is an exact prefix of the archive.
    const std::string kept = readFile(partial());
    EXPECT_GT(kept.size(), 0u);
    EXPECT_LT(kept.size(), bytes.size());
    EXPECT_EQ(kept, bytes.substr(0, kept.size()));

    ASSERT_EQ(::mount("tmpfs", (tmp + "/root").c_str(), "tmpfs", MS_REMOUNT, "size=16m"), 0);
    InstallPhase retry = install();
    ASSERT_TRUE(retry.is<InstallPhase::Done>()) << message(retry);
    EXPECT_EQ(archiveRequests().back().range, "bytes=" + std::to_string(kept.size()) + "-");
}

#ifdef ZAVREN_EXE
// The command-line entry runs the same installer; its exit status says whether the
// engine is in place.
TEST_F(InstallerITest, CommandLineInstallReportsTheOutcome) {
    const std::string env = "env -i HOME=" + tmp + "/home XDG_DATA_HOME=" + tmp +
                            "/data PATH=/usr/bin:/bin ZAVREN_UPDATE_BASE=" + server->baseUrl() +
                            "/dl-base ";
    const std::string out = tmp + "/out.txt";
    EXPECT_EQ(sh(env + ZAVREN_EXE " engine install >" + out + " 2>&1"), 1);
    EXPECT_NE(readFile(out).find("无法获取引擎信息:响应异常,请检查网络后重试"), std::string::npos)
        << readFile(out);

    pack(makeEngine("2.0", 100 * 1024));
    EXPECT_EQ(sh(env + ZAVREN_EXE " engine install >" + out + " 2>&1"), 0) << readFile(out);
    EXPECT_TRUE(fs::exists(tmp + "/data/zavren/engine/engine-2.0/bin/llama-server"));
    EXPECT_NE(readFile(out).find("正在校验"), std::string::npos) << readFile(out);

    EXPECT_EQ(sh(env + ZAVREN_EXE " engine install --bogus >" + out + " 2>&1"), 2);
}
#endif

}  // namespace
}  // namespace zavren
