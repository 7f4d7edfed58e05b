// Measures the speech lost at the start of a recording: the virtual microphone
// plays a time code (sample k carries k mod 65536 and was "spoken" at
// epoch + k/16000 s), record() is called at T0, and the first sample in the file
// tells when the captured audio begins. Lost = begin - T0 (negative: the
// recording even holds audio from before the key press).
//
//   bench_capture_latency [--runs N] [--cold]
// --cold connects to the server anew at every key press, as a program without a
// warm connection would.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "pulse/pulse_microphone.h"
#include "pulse/pulse_recorder.h"
#include "desktop/desktop_env.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::vector<std::uint16_t> samplesOf(const fs::path& wav) {
    std::ifstream in(wav, std::ios::binary);
    std::string b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (b.size() <= 44) return {};
    std::vector<std::uint16_t> s((b.size() - 44) / 2);
    std::memcpy(s.data(), b.data() + 44, s.size() * 2);
    return s;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const auto n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Run {
    double lostMs;
    double recordCallMs;
    double firstDataMs;  // from T0 until the first audio is in the file
    int gaps;            // discontinuities in the time code
};

}  // namespace

int main(int argc, char** argv) {
    int runs = 15;
    bool cold = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::atoi(argv[++i]);
        if (!std::strcmp(argv[i], "--cold")) cold = true;
    }
    if (!zavren::desktop::available() || !zavren::desktop::micTimecode()) {
        std::fprintf(stderr, "needs the test desktop: set ZAVREN_DESKTOP_ENV (see run.sh)\n");
        return 1;
    }
    const auto status = zavren::desktop::micStatus();
    const std::int64_t epoch = status->epochNs;

    char tmpl[] = "/tmp/zavren-bench-capture-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const fs::path wav = fs::path(tmpl) / "zavren.wav";

    auto conn = std::make_shared<zavren::PulseConnection>();
    auto factory = std::make_unique<zavren::PulseRecorderFactory>(conn);
    zavren::PulseMicrophone::query(*conn);  // the program has been up for a while

    std::mt19937 rng(42);
    std::uniform_int_distribution<int> pause(150, 400);
    std::vector<Run> results;
    for (int r = 0; r < runs; ++r) {
        // Land the key press anywhere relative to the feeder's 10 ms chunks.
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(rng)));
        const std::int64_t t0 = nowNs();
        if (cold) factory = std::make_unique<zavren::PulseRecorderFactory>();
        auto rec = factory->create(wav);
        const bool ok = rec && rec->record();
        const std::int64_t t1 = nowNs();
        if (!ok) {
            std::fprintf(stderr, "record() failed\n");
            return 1;
        }
        std::int64_t firstData = 0;
        while (nowNs() - t0 < 2'000'000'000) {
            std::error_code ec;
            const auto size = fs::file_size(wav, ec);
            if (!firstData && !ec && size > 44) firstData = nowNs();
            if (!ec && size >= 44 + 16000) break;  // half a second
            std::this_thread::sleep_for(200us);
        }
        rec->stop();
        const auto s = samplesOf(wav);
        if (s.empty()) {
            std::fprintf(stderr, "no audio recorded\n");
            return 1;
        }
        // The sample index nearest to T0 whose value matches the first sample.
        const std::int64_t atT0 = (t0 - epoch) * 16000 / 1'000'000'000;
        std::int64_t k = atT0 - ((atT0 - s[0]) & 0xffff);
        if (atT0 - k > 32768) k += 65536;
        const double begin = static_cast<double>(epoch) + static_cast<double>(k) * 1e9 / 16000;
        int gaps = 0;
        for (std::size_t i = 1; i < s.size(); ++i)
            if (static_cast<std::uint16_t>(s[i - 1] + 1) != s[i]) ++gaps;
        results.push_back({(begin - static_cast<double>(t0)) / 1e6,
                           static_cast<double>(t1 - t0) / 1e6,
                           static_cast<double>(firstData - t0) / 1e6, gaps});
        std::printf(
            "run %2d: lost %7.2f ms  record() %6.2f ms  first audio in file after %6.2f ms  gaps "
            "%d\n",
            r + 1, results.back().lostMs, results.back().recordCallMs, results.back().firstDataMs,
            gaps);
    }
    zavren::desktop::micSilence();
    fs::remove_all(tmpl);

    std::vector<double> lost, call, first;
    for (const auto& r : results) {
        lost.push_back(r.lostMs);
        call.push_back(r.recordCallMs);
        first.push_back(r.firstDataMs);
    }
    std::printf("\n%s connection, %d runs\n", cold ? "cold" : "warm", runs);
    std::printf("speech lost at start: median %.2f ms (min %.2f, max %.2f); target < 60 ms\n",
                median(lost), *std::min_element(lost.begin(), lost.end()),
                *std::max_element(lost.begin(), lost.end()));
    std::printf("record() call:        median %.2f ms (max %.2f)\n", median(call),
                *std::max_element(call.begin(), call.end()));
    std::printf("first audio in file:  median %.2f ms after the key press\n", median(first));
    return 0;
}
