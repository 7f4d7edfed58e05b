// Building the final chat request for a 60-second recording against the bare
// base64 encoding of the same bytes: the JSON around it should cost little.
#include <benchmark/benchmark.h>

#include <string>

#include "dictation/wav.h"
#include "dictation/wire.h"
#include "shared/base64.h"

namespace {

const std::string& recording60s() {
    static const std::string wav = [] {
        std::string pcm(60 * 32000, '\0');
        for (std::size_t i = 0; i < pcm.size(); ++i)
            pcm[i] = static_cast<char>((i * 2654435761u) >> 24);
        return zavren::wrapWav(pcm);
    }();
    return wav;
}

void BM_Base64Only(benchmark::State& state) {
    const std::string& wav = recording60s();
    for (auto _ : state) {
        std::string b64 = zavren::base64::encode(wav);
        benchmark::DoNotOptimize(b64.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * wav.size()));
}

void BM_FinalChatRequest(benchmark::State& state) {
    const std::string& wav = recording60s();
    // No terms file: the prompt is the short one, as for most users.
    const std::string terms = "/nonexistent/zavren-bench-terms.txt";
    for (auto _ : state) {
        zavren::HttpRequest r = zavren::transcriptionRequest(zavren::EngineKind::llama, wav,
                                                             zavren::FINAL_TIMEOUT, terms);
        benchmark::DoNotOptimize(r.body.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * wav.size()));
}

}  // namespace

BENCHMARK(BM_Base64Only)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly();
BENCHMARK(BM_FinalChatRequest)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();

BENCHMARK_MAIN();
