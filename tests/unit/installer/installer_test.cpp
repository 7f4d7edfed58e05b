#include "engine/installer/engine_installer.h"

#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "fakes/fake_dispatcher.h"
#include "fakes/fake_http.h"
#include "fakes/fake_process.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;

const std::string BASE = "http://127.0.0.1:9/dl";
const std::string ARCHIVE_URL = "http://127.0.0.1:9/dl/engine-1.0.tar.gz";
const std::string CORRUPT = "校验失败(文件损坏),已清理,请重试";

std::string sha256Hex(const std::string& bytes) {
    unsigned char d[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), d);
    std::string hex;
    char two[3];
    for (unsigned char c : d) {
        std::snprintf(two, sizeof two, "%02x", c);
        hex += two;
    }
    return hex;
}

std::string pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + i / 7) & 0xff);
    return s;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string manifestJson(const std::string& sha, std::int64_t size,
                         const std::string& url = ARCHIVE_URL) {
    return R"({"version":"1.0","url":")" + url + R"(","sha256":")" + sha + R"(","size":)" +
           std::to_string(size) + "}";
}

struct InstallerTest : ::testing::Test {
    std::string tmp;
    std::string root;
    fakes::FakeDispatcher dispatcher;
    fakes::FakeHttpClient http{dispatcher};
    fakes::FakeProcessLauncher launcher;
    std::unique_ptr<EngineInstaller> installer;
    std::vector<InstallPhase> phases;
    InstallerHandle::Subscription sub;
    int doneCalls = 0;

    std::string archive = pattern(3 * 1024 * 1024 + 123);
    std::string listing = "drwxr-xr-x 0/0 0 2024-01-01 00:00 \"engine-1.0/\"\n";
    int listStatus = 0;
    RunResult extractResult{true, 0, {}};
    std::string extractedName = "engine-1.0";

    void SetUp() override {
        std::string t = fs::temp_directory_path().string() + "/zavren-installer-XXXXXX";
        tmp = ::mkdtemp(t.data());
        root = tmp + "/engine";
        installer = std::make_unique<EngineInstaller>(dispatcher, http, launcher, root, BASE);
        sub = installer->subscribe([this] { phases.push_back(installer->phase()); });
        installer->onDone = [this] {
            ++doneCalls;
            EXPECT_TRUE(installer->phase().is<InstallPhase::Done>());
        };
        launcher.runner = [this](const ProcessSpec& spec) -> RunResult {
            if (!spec.args.empty() && spec.args[0] == "--list") {
                EXPECT_GE(spec.outputFd, 0);
                EXPECT_EQ(::write(spec.outputFd, listing.data(), listing.size()),
                          static_cast<ssize_t>(listing.size()));
                return {true, listStatus, {}};
            }
            if (extractResult.launched && extractResult.status == 0) {
                fs::create_directories(scratch() + "/" + extractedName + "/bin");
                writeFile(scratch() + "/" + extractedName + "/bin/llama-server", "new");
            }
            return extractResult;
        };
    }
    void TearDown() override {
        installer.reset();
        fs::remove_all(tmp);
    }

    std::string partial() const { return root + "/download.partial"; }
    std::string scratch() const { return root + "/.extract-tmp"; }
    std::string sha() const { return sha256Hex(archive); }
    std::int64_t size() const { return static_cast<std::int64_t>(archive.size()); }

    // Starts and answers the manifest; the archive request is then call 1.
    void startWith(const std::string& manifest) {
        installer->start();
        http.complete(http.count() - 1, HttpResponse{200, manifest, {}});
        dispatcher.runUntilIdle();
    }
    void startNormally() { startWith(manifestJson(sha(), size())); }
    std::size_t last() const { return http.count() - 1; }
    void writePartial(const std::string& bytes) {
        fs::create_directories(root);
        writeFile(partial(), bytes);
    }
    // Answers the archive request with status and bytes and lets it finish.
    void download(const std::string& bytes, int status = 200) {
        http.streamResponse(last(), status);
        sendAll(last(), bytes);
        http.streamComplete(last());
        dispatcher.runUntilIdle();
    }

    void sendAll(std::size_t call, const std::string& bytes, std::size_t chunk = 65536) {
        for (std::size_t at = 0; at < bytes.size(); at += chunk)
            ASSERT_TRUE(http.streamData(call, bytes.substr(at, chunk)));
    }
    std::string failure() const {
        auto f = installer->phase().get<InstallPhase::Failed>();
        return f ? f->message : "(not failed)";
    }
    std::vector<const ProcessSpec*> extractions() const {
        std::vector<const ProcessSpec*> out;
        for (const auto& r : launcher.runs)
            if (r.args.at(0) == "-xzf") out.push_back(&r);
        return out;
    }
};

TEST_F(InstallerTest, FreshInstallEndsWithTheEngineInPlace) {
    fs::create_directories(root + "/engine-0.9");
    installer->start();
    ASSERT_EQ(http.count(), 1u);
    const HttpRequest& m = http.request(0);
    EXPECT_EQ(m.url, BASE + "/engine.json");
    EXPECT_EQ(m.timeout, seconds(20));
    EXPECT_EQ(m.cache, HttpRequest::CachePolicy::reloadIgnoringLocalCache);
    EXPECT_TRUE(installer->phase().is<InstallPhase::Manifest>());
    EXPECT_TRUE(fs::is_directory(root));

    http.complete(0, HttpResponse{200, manifestJson(sha(), size()), {}});
    dispatcher.runUntilIdle();
    ASSERT_EQ(http.count(), 2u);
    const HttpRequest& a = http.request(1);
    EXPECT_TRUE(http.call(1).streamed);
    EXPECT_EQ(a.url, ARCHIVE_URL);
    EXPECT_EQ(a.timeout, seconds(60));
    EXPECT_TRUE(a.headers.empty());
    EXPECT_EQ(installer->phase(), (InstallPhase{InstallPhase::Downloading{0, size()}}));

    download(archive);
    EXPECT_TRUE(installer->phase().is<InstallPhase::Done>()) << failure();
    EXPECT_EQ(doneCalls, 1);
    EXPECT_FALSE(fs::exists(partial()));
    EXPECT_FALSE(fs::exists(scratch()));
    EXPECT_EQ(readFile(root + "/engine-1.0/bin/llama-server"), "new");
    EXPECT_TRUE(fs::is_directory(root + "/engine-0.9"));

    auto x = extractions();
    ASSERT_EQ(x.size(), 1u);
    EXPECT_TRUE(x[0]->exec == "/usr/bin/tar" || x[0]->exec == "/bin/tar");
    EXPECT_EQ(x[0]->args, (std::vector<std::string>{"-xzf", partial(), "-C", scratch(),
                                                    "--no-same-owner", "--no-same-permissions"}));

    // Phases in order, each kind once except progress.
    std::vector<std::size_t> kinds;
    for (const auto& p : phases) {
        if (kinds.empty() || kinds.back() != p.value.index()) kinds.push_back(p.value.index());
    }
    EXPECT_EQ(kinds, (std::vector<std::size_t>{1, 2, 3, 4, 5}));
}

TEST_F(InstallerTest, ProgressIsPublishedAtMostEveryFifteenHundredthsOfASecond) {
    startNormally();
    phases.clear();
    http.streamResponse(1, 200);
    using std::chrono::microseconds;
    using std::chrono::milliseconds;
    auto chunkAfter = [&](Duration wait, std::size_t bytes) {
        dispatcher.advance(wait);
        ASSERT_TRUE(http.streamData(1, archive.substr(0, bytes)));
        dispatcher.runUntilIdle();
    };
    chunkAfter(milliseconds(1000), 10);  // first chunk always publishes
    chunkAfter(milliseconds(100), 10);
    chunkAfter(milliseconds(50), 10);  // exactly 0.15 s after the last publication: not yet
    chunkAfter(microseconds(1), 10);
    chunkAfter(milliseconds(50), 10);
    chunkAfter(milliseconds(110), 10);
    chunkAfter(milliseconds(10), 10);  // last chunk, no final flush
    std::vector<std::int64_t> published;
    for (const auto& p : phases) {
        auto d = p.get<InstallPhase::Downloading>();
        ASSERT_TRUE(d);
        EXPECT_EQ(d->total, size());
        published.push_back(d->received);
    }
    EXPECT_EQ(published, (std::vector<std::int64_t>{10, 40, 60}));
}

TEST_F(InstallerTest, ManifestFailuresNameTheCause) {
    const std::string odd = "无法获取引擎信息:响应异常,请检查网络后重试";
    struct Case {
        HttpResponse response;
        std::string message;
    };
    std::vector<Case> cases = {
        {HttpResponse{0, "", HttpError{HttpError::Kind::cannotConnect, "无法连接服务器"}},
         "无法获取引擎信息:无法连接服务器,请检查网络后重试"},
        {HttpResponse{404, "<html><body>Not Found</body></html>", {}}, odd},
        {HttpResponse{200, "{}", {}}, odd},
        {HttpResponse{200, "", {}}, odd},
        {HttpResponse{200, manifestJson(sha(), size(), "engine-1.0.tar.gz"), {}}, odd},
        {HttpResponse{200, manifestJson(sha(), size(), "file:///etc/passwd"), {}}, odd},
        {HttpResponse{200, manifestJson(sha(), -5), {}}, odd},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message + " / " + c.response.body);
        installer->start();
        http.complete(last(), c.response);
        dispatcher.runUntilIdle();
        EXPECT_EQ(failure(), c.message);
        EXPECT_FALSE(installer->running());
    }
    EXPECT_EQ(http.count(), cases.size());  // no archive request ever went out
    EXPECT_EQ(doneCalls, 0);

    installer->start();
    dispatcher.advance(19.9);
    EXPECT_TRUE(installer->phase().is<InstallPhase::Manifest>());
    dispatcher.advance(0.2);
    EXPECT_EQ(failure(), "无法获取引擎信息:请求超时,请检查网络后重试");
}

TEST_F(InstallerTest, PartialFileIsResumedOrDiscarded) {
    const std::size_t have = archive.size() * 2 / 5;
    struct Case {
        std::string partial;
        std::size_t from;  // 0: no Range header
        int status;
    } cases[] = {
        {archive.substr(0, have), have, 206},
        {archive.substr(0, 1000), 1000, 200},  // a full answer starts over in the same attempt
        {archive, 0, 200},                     // as long as the size: discarded first
        {archive + "0123456789", 0, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.partial.size());
        writePartial(c.partial);
        startNormally();
        using Headers = std::vector<std::pair<std::string, std::string>>;
        const Headers range{{"Range", "bytes=" + std::to_string(c.from) + "-"}};
        EXPECT_EQ(http.request(last()).headers, c.from ? range : Headers{});
        EXPECT_EQ(
            installer->phase(),
            (InstallPhase{InstallPhase::Downloading{static_cast<std::int64_t>(c.from), size()}}));
        EXPECT_EQ(fs::file_size(partial()), c.from);
        download(c.status == 206 ? archive.substr(c.from) : archive, c.status);
        EXPECT_TRUE(installer->phase().is<InstallPhase::Done>()) << failure();
    }
}

TEST_F(InstallerTest, UppercaseDigestNeverMatchesAndClearsThePartial) {
    std::string upper = sha();
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    startWith(manifestJson(upper, size()));
    download(archive);
    EXPECT_EQ(failure(), CORRUPT);
    EXPECT_FALSE(fs::exists(partial()));
    EXPECT_TRUE(launcher.runs.empty());
}

TEST_F(InstallerTest, InterruptionKeepsTheBytesAndRoundsTheMegabytes) {
    struct Case {
        std::size_t bytes;
        std::string shown;
    };
    for (const Case& c : {Case{2516582, "2 MB"}, Case{2726297, "3 MB"}, Case{0, "0 MB"}}) {
        SCOPED_TRACE(c.shown);
        std::error_code ec;
        fs::remove(partial(), ec);
        startNormally();
        http.streamResponse(last(), 200);
        sendAll(last(), archive.substr(0, c.bytes));
        http.streamComplete(last(), HttpError{HttpError::Kind::connectionLost, "网络连接已断开"});
        dispatcher.runUntilIdle();
        EXPECT_EQ(failure(), "下载中断:网络连接已断开。已下 " + c.shown + ",点重试从断点继续");
        EXPECT_EQ(readFile(partial()), archive.substr(0, c.bytes));
    }
}

TEST_F(InstallerTest, ErrorStatusIsNeverWrittenIntoThePartial) {
    writePartial(archive.substr(0, 2 * 1048576));
    startNormally();
    http.streamResponse(1, 503);
    EXPECT_FALSE(http.streamData(1, "<html>Service Unavailable</html>"));
    dispatcher.runUntilIdle();
    EXPECT_EQ(failure(), "下载中断:服务器返回 HTTP 503。已下 2 MB,点重试从断点继续");
    EXPECT_EQ(readFile(partial()), archive.substr(0, 2 * 1048576));

    startNormally();  // an error status without a body ends the same way
    download("", 404);
    EXPECT_EQ(failure(), "下载中断:服务器返回 HTTP 404。已下 2 MB,点重试从断点继续");
    EXPECT_EQ(fs::file_size(partial()), 2u * 1048576);
}

TEST_F(InstallerTest, RangeNotSatisfiableClearsThePartialSoTheRetryStartsFromZero) {
    writePartial(archive.substr(0, 5000));
    startNormally();
    http.streamResponse(1, 416);
    EXPECT_FALSE(http.streamData(1, "<html>416</html>"));
    dispatcher.runUntilIdle();
    EXPECT_EQ(failure(), CORRUPT);
    EXPECT_FALSE(fs::exists(partial()));

    startNormally();
    EXPECT_TRUE(http.request(last()).headers.empty());
}

TEST_F(InstallerTest, StartWhileRunningDoesNothing) {
    installer->start();
    installer->start();
    EXPECT_EQ(http.count(), 1u);
    http.complete(0, HttpResponse{200, manifestJson(sha(), size()), {}});
    dispatcher.runUntilIdle();
    installer->start();
    EXPECT_EQ(http.count(), 2u);
    http.streamResponse(1, 200);
    sendAll(1, archive.substr(0, 100));
    installer->start();
    EXPECT_EQ(http.count(), 2u);
    http.streamComplete(1, HttpError{HttpError::Kind::timedOut, "请求超时"});
    dispatcher.runUntilIdle();
    EXPECT_FALSE(installer->running());

    // The retry resumes from the hundred bytes.
    startNormally();
    EXPECT_EQ(http.request(last()).headers.at(0).second, "bytes=100-");
}

TEST_F(InstallerTest, PartialThatIsAFolderFailsAndALinkIsReplaced) {
    fs::create_directories(partial() + "/occupied");
    startNormally();
    EXPECT_EQ(failure(), "无法写入下载文件(磁盘权限?)");
    EXPECT_EQ(http.count(), 1u);

    fs::remove_all(partial());
    fs::create_symlink("/dev/zero", partial());
    startNormally();
    EXPECT_TRUE(http.request(last()).headers.empty());
    EXPECT_FALSE(fs::is_symlink(partial()));
    EXPECT_EQ(fs::file_size(partial()), 0u);
}

TEST_F(InstallerTest, UnpackingFailuresKeepTheDownload) {
    const std::string hostile =
        "lrwxrwxrwx 0/0 0 2024-01-01 00:00 \"engine-1.0/etc\" -> \"../../../etc\"\n";
    struct Case {
        std::function<void()> setup;
        std::string message;
        std::size_t extractions;
    } cases[] = {
        {[&] {
             extractResult = {false, -1, "没有这个程序"};
         },
         "解压失败:没有这个程序", 1},
        {[&] {
             extractResult = {true, 2, {}};
         },
         "解压失败(tar exit 2),请重试", 1},
        {[&] { listStatus = 2; }, "解压失败(tar exit 2),请重试", 0},
        {[&] { listing += hostile; },
         "解压失败:引擎包含有不安全的条目 engine-1.0/etc(符号链接指向外部)", 0},
        {[&] { extractedName = "stuff"; }, "引擎包结构异常(未找到 engine-* 目录),请重试", 1},
    };
    const std::string cleanListing = listing;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        extractResult = {true, 0, {}};
        listStatus = 0;
        listing = cleanListing;
        launcher.runs.clear();
        std::error_code ec;
        fs::remove_all(scratch(), ec);
        fs::remove(partial(), ec);
        c.setup();
        startNormally();
        download(archive);
        EXPECT_EQ(failure(), c.message);
        EXPECT_EQ(extractions().size(), c.extractions);
        EXPECT_TRUE(fs::exists(partial()));
        EXPECT_TRUE(!c.extractions || fs::is_directory(scratch()));
    }
    EXPECT_TRUE(fs::is_directory(scratch() + "/stuff"));
    EXPECT_EQ(doneCalls, 0);
}

TEST_F(InstallerTest, RetryAfterDoneReplacesTheSameVersion) {
    for (int round = 0; round < 2; ++round) {
        fs::create_directories(root + "/engine-1.0/old-only");
        startNormally();
        download(archive);
        EXPECT_TRUE(installer->phase().is<InstallPhase::Done>()) << failure();
        EXPECT_FALSE(fs::exists(root + "/engine-1.0/old-only"));
        EXPECT_EQ(readFile(root + "/engine-1.0/bin/llama-server"), "new");
    }
    EXPECT_EQ(doneCalls, 2);
}

TEST_F(InstallerTest, NothingHappensOnceTheInstallerIsGone) {
    startNormally();
    http.streamResponse(1, 200);
    sendAll(1, archive.substr(0, 1000));
    installer.reset();
    EXPECT_TRUE(http.call(1).cancelled);
    dispatcher.runUntilIdle();
    EXPECT_EQ(doneCalls, 0);
    EXPECT_EQ(readFile(partial()), archive.substr(0, 1000));
}

TEST_F(InstallerTest, EndedSubscriptionStopsNotifying) {
    sub.reset();
    installer->start();
    EXPECT_TRUE(phases.empty());
}

}  // namespace
}  // namespace zavren
