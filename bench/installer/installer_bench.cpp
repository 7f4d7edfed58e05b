// Throughput of the engine download and of the resume scan, each against the
// standard tool doing the same work:
//   download (write + SHA-256) of a 512 MiB file from a loopback server
//       vs `curl -o /dev/null`                       target: ratio <= 1.25
//   resume scan of a 512 MiB partial file vs `sha256sum`  target: ratio <= 1.2
//   an endless engine.json: the attempt fails with a message, and the peak
//       memory grows by no more than a few times the 1 MiB manifest limit
// The file is generated in a temporary folder and deleted afterwards. Each side
// runs several times; the best time counts (warm page cache for both).
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "loopback/loopback_server.h"

#include "download_server.h"
#include "engine/installer/engine_installer.h"
#include "engine/installer/partial_file.h"
#include "posix/curl_http_client.h"
#include "posix/run_loop.h"

namespace fs = std::filesystem;
using namespace zavren;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::int64_t SIZE = 512LL * 1024 * 1024;
constexpr int RUNS = 3;

double since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

void generate(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    std::vector<std::uint64_t> buf(1 << 19);  // 4 MiB
    std::uint64_t x = 0x9e3779b97f4a7c15ULL;
    for (std::int64_t written = 0; written < SIZE;
         written += static_cast<std::int64_t>(buf.size() * 8)) {
        for (auto& w : buf) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            w = x;
        }
        out.write(reinterpret_cast<const char*>(buf.data()),
                  static_cast<std::streamsize>(buf.size() * 8));
    }
}

double timeCommand(const std::string& command) {
    auto t0 = Clock::now();
    int rc = std::system(command.c_str());
    double t = since(t0);
    if (rc != 0) {
        std::fprintf(stderr, "bench_installer: '%s' failed (%d)\n", command.c_str(), rc);
        std::exit(2);
    }
    return t;
}

// From start() until the transfer is complete and hashed (the phase turns to verifying).
double timeInstallerDownload(const std::string& root, const std::string& base) {
    RunLoopDispatcher loop(2);
    CurlHttpClient http;
    EngineInstaller installer(loop, http, root, base);
    std::error_code ec;
    fs::remove(root + "/download.partial", ec);
    std::optional<double> transferred;
    Clock::time_point t0;
    auto sub = installer.subscribe([&] {
        if (installer.phase().is<InstallPhase::Verifying>() && !transferred)
            transferred = since(t0);
    });
    t0 = Clock::now();
    installer.start();
    loop.runUntil(
        [&] {
            return installer.phase().is<InstallPhase::Failed>() ||
                   installer.phase().is<InstallPhase::Done>();
        },
        std::chrono::minutes(10));
    if (!transferred) {
        auto f = installer.phase().get<InstallPhase::Failed>();
        std::fprintf(stderr, "bench_installer: download did not complete: %s\n",
                     f ? f->message.c_str() : "?");
        std::exit(2);
    }
    return *transferred;
}

long peakKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Serves an endless manifest and runs one attempt against it: how long until it
// fails, with what message, and how far the peak memory moved meanwhile.
void endlessManifest(const std::string& root) {
    tools::LoopbackServer server;
    server.http.Get("/engine.json", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("application/json", [](std::size_t, auto& sink) {
            static const std::string chunk(1 << 16, ' ');
            return sink.write(chunk.data(), chunk.size());
        });
    });
    const int port = server.bind();
    server.serveInBackground();
    const long before = peakKiB();
    RunLoopDispatcher loop(2);
    CurlHttpClient http;
    EngineInstaller installer(loop, http, root, "http://127.0.0.1:" + std::to_string(port));
    auto t0 = Clock::now();
    installer.start();
    loop.runUntil([&] { return installer.phase().is<InstallPhase::Failed>(); },
                  std::chrono::seconds(60));
    double took = since(t0);
    auto f = installer.phase().get<InstallPhase::Failed>();
    long grew = peakKiB() - before;
    std::printf("endless engine.json: failed after %.2f s (%s), peak memory +%ld KiB %s\n", took,
                f ? f->message.c_str() : "NOT FAILED", grew,
                f && grew <= 4 * 1024 ? "ok" : "TOO MUCH");
    server.stop();
}

double best(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}

bool report(const char* what, double ours, double reference, const char* refName, double limit) {
    double mb = static_cast<double>(SIZE) / 1048576.0;
    double ratio = ours / reference;
    std::printf("%-34s %7.3f s  %7.1f MB/s   %-16s %7.3f s  %7.1f MB/s   ratio %.3f (<= %.2f) %s\n",
                what, ours, mb / ours, refName, reference, mb / reference, ratio, limit,
                ratio <= limit ? "ok" : "TOO SLOW");
    return ratio <= limit;
}

}  // namespace

int main() {
    std::string t = fs::temp_directory_path().string() + "/zavren-bench-XXXXXX";
    const std::string dir = ::mkdtemp(t.data());
    const std::string downloads = dir + "/downloads";
    const std::string root = dir + "/root";
    fs::create_directories(downloads);
    const std::string file = downloads + "/big.bin";
    std::printf("generating %lld MiB in %s ...\n", static_cast<long long>(SIZE >> 20), dir.c_str());
    endlessManifest(root);
    generate(file);

    // Resume scan first: it needs only the file.
    std::vector<double> scan, sum;
    std::string digest;
    for (int i = 0; i < RUNS + 1; ++i) {  // first round warms the page cache
        Sha256 hasher;
        std::int64_t received = 0;
        auto t0 = Clock::now();
        scanPartial(file, hasher, received);
        double ts = since(t0);
        double tr = timeCommand("sha256sum " + file + " >/dev/null");
        if (received != SIZE) {
            std::fprintf(stderr, "bench_installer: scan read %lld bytes\n",
                         static_cast<long long>(received));
            return 2;
        }
        digest = hasher.hexDigest();
        if (i == 0) continue;
        scan.push_back(ts);
        sum.push_back(tr);
    }

    tools::DownloadServer server(downloads);
    if (!server.start(0)) {
        std::fprintf(stderr, "bench_installer: cannot bind a loopback port\n");
        return 2;
    }
    std::ofstream(downloads + "/engine.json")
        << R"({"version":"bench","url":")" << server.baseUrl() << R"(/big.bin","sha256":")"
        << digest << R"(","size":)" << SIZE << "}";

    std::vector<double> ours, curl, curlFile;
    const std::string url = server.baseUrl() + "/big.bin";
    for (int i = 0; i < RUNS; ++i) {
        curl.push_back(timeCommand("curl -s -f -o /dev/null " + url));
        curlFile.push_back(timeCommand("curl -s -f -o " + dir + "/copy.bin " + url + " && rm " +
                                       dir + "/copy.bin"));
        ours.push_back(timeInstallerDownload(root, server.baseUrl()));
    }
    // The same over a link of 200 MB/s, still faster than most real connections.
    tools::Misbehaviour slow;
    slow.bytesPerSecond = 200LL * 1024 * 1024;
    server.setMisbehaviour(slow);
    double curlSlow = timeCommand("curl -s -f -o /dev/null " + url);
    double oursSlow = timeInstallerDownload(root, server.baseUrl());
    server.stop();
    fs::remove_all(dir);

    std::printf("\n");
    report("download 512 MiB + write + SHA-256", best(ours), best(curl), "curl -o /dev/null", 1.25);
    report("  (reference: curl writing a file)", best(ours), best(curlFile), "curl -o FILE", 1.25);
    report("  (link paced at 200 MB/s)", oursSlow, curlSlow, "curl -o /dev/null", 1.25);
    report("resume scan of 512 MiB partial", best(scan), best(sum), "sha256sum", 1.2);
    // Verdicts are printed, not returned: the runner stops at the first failing program.
    return 0;
}
