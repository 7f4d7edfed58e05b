// The installer's decisions on virtual time, over a fake HTTP client, with the
// partial file and the unpacking on the real file system.
#include "engine/installer/engine_installer.h"

#include <unistd.h>

#include <random>
#include <set>

#include <gtest/gtest.h>

#include "engine/installer/partial_file.h"
#include "engine/installer/sha256.h"
#include "fakes/fake_dispatcher.h"
#include "fakes/fake_http.h"
#include "shared/files.h"
#include "support/tar_gz.h"
#include "support/temp_dir.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;
using Headers = std::vector<std::pair<std::string, std::string>>;

const std::string BASE = "http://127.0.0.1:9/dl";
const HttpError LOST{HttpError::Kind::connectionLost, "断开"};

std::string manifest(const std::string& sha, std::int64_t size, std::string url = BASE + "/a") {
    return R"({"version":"1","url":")" + url + R"(","sha256":")" + sha + R"(","size":)" +
           std::to_string(size) + "}";
}

struct InstallerTest : ::testing::Test {
    test::TempDir tmp;
    std::string root = tmp / "engine", partial = root + "/download.partial";
    fakes::FakeDispatcher dispatcher;
    fakes::FakeHttpClient http{dispatcher};
    std::unique_ptr<EngineInstaller> installer =
        std::make_unique<EngineInstaller>(dispatcher, http, root, BASE);
    std::vector<InstallPhase> phases;
    InstallerHandle::Subscription sub =
        installer->subscribe([this] { phases.push_back(installer->phase()); });
    int doneCalls = 0;
    std::string archive, sha;

    // An engine of just under 3 MiB that does not compress.
    void SetUp() override {
        std::mt19937 gen(7);
        std::string model((3 << 20) - 8192, '\0');
        for (auto& c : model) c = static_cast<char>(gen());
        publish(test::tarGz({{"engine-1/", '5'},
                             {"engine-1/bin/llama-server", '0', "#!/bin/sh\n", "", 0755},
                             {"engine-1/models/m.gguf", '0', model}}));
        fs::create_directories(root);
        installer->freeBytes = [](const std::string&) { return std::nullopt; };
        installer->onDone = [this] { ++doneCalls; };
    }
    void publish(std::string bytes) {
        archive = std::move(bytes);
        Sha256 h;
        h.update(archive.data(), archive.size());
        sha = h.hexDigest();
    }

    std::size_t last() const { return http.count() - 1; }
    std::string failure() const {
        auto f = installer->phase().get<InstallPhase::Failed>();
        return f ? f->message : "(not failed)";
    }
    // Starts and answers the manifest; the archive request, if any, is then last().
    void start(std::string answer = {}) {
        installer->start();
        http.complete(last(), {200, answer.empty() ? manifest(sha, archive.size()) : answer, {}});
        dispatcher.runUntilIdle();
    }
    // Answers the archive request with status and bytes, then with `error` or the end.
    void download(const std::string& bytes, int status = 200, std::optional<HttpError> e = {}) {
        http.streamResponse(last(), status);
        for (std::size_t at = 0; at < bytes.size(); at += 65536)
            http.streamData(last(), bytes.substr(at, 65536));
        http.streamComplete(last(), e);
        dispatcher.runUntilIdle();
    }
};

TEST(Sha256, HexOfTheStandardVector) {
    Sha256 h;
    h.update("abc", 3);
    EXPECT_EQ(h.hexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST_F(InstallerTest, FreshInstallPutsTheEngineInPlaceAndCleansUp) {
    start();
    const HttpRequest m = http.request(0), a = http.request(1);
    EXPECT_EQ(std::tuple(m.url, m.timeout, m.deadline, m.maxBodyBytes, m.cache),
              std::tuple(BASE + "/engine.json", seconds(20), seconds(30), std::size_t(1 << 20),
                         HttpRequest::CachePolicy::reloadIgnoringLocalCache));
    EXPECT_EQ(std::tuple(a.url, a.timeout, a.deadline, a.headers, http.call(1).streamed),
              std::tuple(BASE + "/a", seconds(60), Duration{}, Headers{}, true));
    download(archive);
    EXPECT_EQ(doneCalls, 1) << failure();
    EXPECT_FALSE(fs::exists(partial) || fs::exists(root + "/.extract-tmp")) << "leftovers";
    EXPECT_EQ(fs::status(root + "/engine-1/bin/llama-server").permissions(),
              fs::perms(0755) & ~fs::perms(files::currentUmask()));
    std::set<std::size_t> kinds;  // every phase but idle and failed
    for (const auto& p : phases) kinds.insert(p.value.index());
    EXPECT_EQ(kinds, (std::set<std::size_t>{1, 2, 3, 4, 5}));
}

TEST_F(InstallerTest, ProgressIsPublishedAtMostEveryFifteenHundredthsOfASecond) {
    start();
    std::vector<std::int64_t> shown;
    for (double wait : {1.0, 0.1, 0.05, 0.000001, 0.05, 0.11, 0.01}) {  // 0.15 exactly: not yet
        dispatcher.advance(wait);
        http.streamData(1, "0123456789");
        dispatcher.runUntilIdle();
        shown.push_back(installer->phase().get<InstallPhase::Downloading>()->received);
    }
    EXPECT_EQ(shown, (std::vector<std::int64_t>{10, 10, 10, 40, 40, 60, 60}));  // no final flush
}

TEST_F(InstallerTest, ManifestFailuresNameTheCause) {
    const std::string odd = "无法获取引擎信息:响应异常,请检查网络后重试";
    std::pair<HttpResponse, std::string> cases[] = {
        {{0, "", HttpError{{}, "X"}}, "无法获取引擎信息:X,请检查网络后重试"},
        {{404, "<html>Not Found</html>", {}}, odd},
        {{200, manifest(sha, 1) + std::string(1 << 20, ' '), {}}, odd},  // past the body limit
        {{200, manifest(sha, 1, "file:///etc/passwd"), {}}, odd},
        {{200, manifest(sha, -5), {}}, odd},
        {{200, manifest(sha.substr(0, 40), 1), {}},
         odd},  // checked before, not after, the download
        {{200, manifest(sha.substr(0, 63) + "g", 1), {}}, odd},
    };
    for (const auto& [response, message] : cases) {
        SCOPED_TRACE(response.body.substr(0, 80));
        installer->start();
        http.complete(last(), response);
        dispatcher.runUntilIdle();
        EXPECT_EQ(failure(), message);
    }
    EXPECT_EQ(http.count(), std::size(cases)) << "an archive request went out";
}

// What a partial file of `held` bytes leads to when the server answers `status`
// and `sent` bytes from where it was asked to start, then `error` or the end. With
// standard input closed, as when started without it, the partial file is
// descriptor 0: still a file.
TEST_F(InstallerTest, TransfersResumeRestartOrFailKeepingWhatCanBeResumed) {
    std::string upper = sha;
    for (auto& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const std::size_t all = archive.size(), gone = std::string::npos;
    const std::string corrupt = "校验失败(文件损坏),已清理,请重试",
                      http400 = "下载中断:服务器返回 HTTP 400。已下 0 MB,点重试从断点继续",
                      cut3MB = "下载中断:断开。已下 3 MB,点重试从断点继续",
                      cutShort = "下载中断:连接提前结束。已下 0 MB,点重试从断点继续";
    // held, Range asked from (0: none), status, sent, error, message (empty: installed),
    // bytes of the archive left in the partial file, digest in the manifest
    std::tuple<std::size_t, std::size_t, int, std::size_t, std::optional<HttpError>, std::string,
               std::size_t, std::string>
        cases[] = {
            {1200000, 1200000, 206, all - 1200000, {}, "", gone, sha},
            {1, 1, 206, all - 1, {}, "", gone, sha},    // the shortest partial still counts
            {1000, 1000, 200, all, {}, "", gone, sha},  // a full answer starts over at once
            {all, 0, 200, all, {}, "", gone, sha},      // as long as the size: discarded first
            {5000, 5000, 206, 2721297, LOST, cut3MB, 2726297, sha},  // 2.6 MB shown as 3
            {0, 0, 200, 100000, {}, cutShort, 100000, sha},          // ended without an error
            {5000, 5000, 400, 100, {}, http400, 5000, sha},          // the error page is kept out
            {5000, 5000, 416, 100, {}, corrupt, gone, sha},  // the server's file was replaced
            {0, 0, 200, all, {}, "", gone, upper},
            {0, 0, 200, all, {}, corrupt, gone, std::string(64, 'a')},
        };
    const int stdinCopy = ::dup(STDIN_FILENO);
    ::close(STDIN_FILENO);
    for (const auto& [held, from, status, sent, error, message, kept, digest] : cases) {
        SCOPED_TRACE(std::to_string(held) + " " + std::to_string(status) + " " + message);
        files::writeAtomic(partial, archive.substr(0, held));
        start(manifest(digest, archive.size()));
        Headers range{{"Range", "bytes=" + std::to_string(from) + "-"}};
        EXPECT_EQ(http.request(last()).headers, from ? range : Headers{});
        download(archive.substr(status == 206 ? from : 0, sent), status, error);
        EXPECT_EQ(failure(), message.empty() ? "(not failed)" : message);
        EXPECT_EQ(files::read(partial).value_or("-"), kept == gone ? "-" : archive.substr(0, kept));
    }
    ::dup2(stdinCopy, STDIN_FILENO);
    ::close(stdinCopy);
}

TEST_F(InstallerTest, DownloadIsRefusedWhenTheDiskCannotHoldItAndTheEngine) {
    std::int64_t free = 3 * std::int64_t(archive.size()) - 1000;  // the rest, and twice unpacked
    installer->freeBytes = [&](auto& f) { return f == root ? std::optional(free) : std::nullopt; };
    files::writeAtomic(partial, archive.substr(0, 1000));
    for (int attempt = 0; attempt < 2; ++attempt, --free) {
        start();
        download("", 206, LOST);
    }
    EXPECT_EQ(http.count(), 3u) << "refused with just enough room, or let through with too little";
    EXPECT_EQ(failure(), "磁盘空间不足:需要 9 MB,可用 8 MB,请清理磁盘后重试");
}

TEST_F(InstallerTest, StartWhileRunningDoesNothingAndNothingHappensOnceGone) {
    installer->start();
    start();  // again while the manifest is on its way, then answers it
    installer->start();
    EXPECT_EQ(http.count(), 2u);
    installer.reset();
    EXPECT_TRUE(http.call(1).cancelled);
    dispatcher.runUntilIdle();
    EXPECT_EQ(doneCalls + phases.size(), 2u);  // manifest, downloading
}

TEST_F(InstallerTest, PartialThatIsAFolderFailsAndALinkIsReplaced) {
    fs::create_directories(partial + "/occupied");
    start();
    EXPECT_EQ(failure(), "无法写入下载文件(磁盘权限?)");
    fs::remove_all(partial);
    fs::create_symlink(tmp / "precious", partial);
    start();
    download("xyz", 200, LOST);
    EXPECT_FALSE(fs::exists(tmp / "precious")) << "written through the link";
}

TEST_F(InstallerTest, UnpackingFailuresKeepTheDownloadAndNothingElse) {
    const std::pair<std::string, std::string> cases[] = {
        {std::string(5000, 'x'), "解压失败:无法读取引擎包,请重试"},
        {test::tarGz({{"stuff/", '5'}}), "引擎包结构异常(未找到 engine-* 目录),请重试"},
    };
    for (const auto& [bytes, message] : cases) {
        publish(bytes);
        start();
        download(archive);
        EXPECT_EQ(failure(), message);
        EXPECT_EQ(files::read(partial), archive);
        EXPECT_FALSE(fs::exists(root + "/.extract-tmp") || fs::exists(root + "/engine-1"));
    }
}

// A server that never stops sending must not fill the disk; a redirect to another
// scheme is not worth a retry.
TEST_F(InstallerTest, TheDeclaredSizeBoundsTheDownload) {
    start();
    download(archive + std::string(200000, 'z'));
    EXPECT_EQ(failure(), "下载失败:大小不符(服务器发送的数据多于声明),已清理,请重试");
    EXPECT_FALSE(fs::exists(partial));
    for (const auto& p : phases) {
        if (auto d = p.get<InstallPhase::Downloading>()) {
            EXPECT_LE(d->received, d->total);
        }
    }

    start();
    download("", 0, HttpError{HttpError::Kind::badUrl, "不支持的地址"});
    EXPECT_EQ(failure(), "下载失败:不支持的地址(下载地址无效)");
}

}  // namespace
}  // namespace zavren
