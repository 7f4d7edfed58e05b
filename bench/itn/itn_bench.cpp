// Normaliser throughput on a generated corpus of mixed Chinese text that reaches
// every pass, next to ICU grapheme segmentation alone of the same text, and the
// time for one 200-character transcript.

#include <benchmark/benchmark.h>
#include <unicode/ubrk.h>
#include <unicode/utext.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "text/itn.h"

namespace {

const char* DIGIT[] = {"零", "一", "二", "三", "四", "五", "六", "七", "八", "九"};

// The way a number up to 99999999 is read aloud: 2024 -> 两千零二十四, 15 -> 十五.
std::string speak(int n) {
    if (n == 0) return "零";
    if (n >= 10000) {
        std::string s = speak(n / 10000) + "万";
        const int rest = n % 10000;
        if (rest == 0) return s;
        return s + (rest < 1000 ? "零" : "") + speak(rest);
    }
    static const char* UNIT[] = {"千", "百", "十", ""};
    static const int PLACE[] = {1000, 100, 10, 1};
    std::string s;
    bool gap = false;
    for (int k = 0; k < 4; ++k) {
        const int d = n / PLACE[k] % 10;
        if (d == 0) {
            gap = !s.empty();
            continue;
        }
        if (gap) s += "零";
        gap = false;
        if (!(k == 2 && d == 1 && s.empty())) s += (d == 2 && k < 2) ? "两" : DIGIT[d];
        s += UNIT[k];
    }
    return s;
}

std::string spellDigits(const std::string& digits) {
    std::string s;
    for (char c : digits) s += c == '1' ? "幺" : DIGIT[c - '0'];
    return s;
}

class CorpusWriter {
  public:
    explicit CorpusWriter(unsigned seed) : rng_(seed) {}

    std::string sentence() {
        switch (pick(12)) {
            case 0:
                return "我的电话是" + spellDigits("1" + number(10, 10)) + ",有事打给我。";
            case 1:
                return "这台机器的型号是ABC" + speak(between(11, 99)) + ",上周刚到。";
            case 2:
                return "今天最高气温" + speak(between(0, 40)) + "点" + DIGIT[pick(10)] +
                       "度,比昨天高一点。";
            case 3:
                return std::string("销售额同比增长了") + (pick(2) ? "百" : "千") + "分之" +
                       speak(between(1, 99)) + (pick(3) ? "" : "点五") + "。";
            case 4:
                return "这本书一共" + speak(between(10, 9999)) + (pick(2) ? "元" : "块钱") + "。";
            case 5:
                return spellDigits(std::to_string(between(1990, 2030))) + "年" +
                       speak(between(1, 12)) + "月" + speak(between(1, 31)) +
                       (pick(2) ? "日" : "号") + "我们在会议室开会。";
            case 6: {
                static const char* PARTS[] = {"上午", "下午", "晚上", "凌晨", "中午", "早上"};
                return std::string("明天") + PARTS[pick(6)] + speak(between(1, 12)) + "点" +
                       (pick(3) == 0 ? "半" : speak(between(10, 59)) + "分") + "出发,别迟到。";
            }
            case 7:
                return "请把零件编号改成A杠" + spellDigits(number(3, 3)) + ",然后重新提交。";
            case 8:
                return "圆周率大约是三点一四,版本号是二点" + std::string(DIGIT[pick(10)]) + "。";
            case 9:
                return "他说一点儿也不累,一个人走了" + speak(between(2, 30)) + "公里。";
            case 10:
                return "Meeting notes: please review the draft before Friday, thanks!";
            default:
                return "今天的天气很好,我们一起去公园散步吧,顺便看看湖边新开的咖啡馆。";
        }
    }

  private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    int between(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    std::string number(int minLen, int maxLen) {
        std::string s;
        for (int k = between(minLen, maxLen); k > 0; --k) s += static_cast<char>('0' + pick(10));
        return s;
    }
    std::mt19937 rng_;
};

const std::string& corpus() {
    static const std::string text = [] {
        CorpusWriter w(42);
        std::string s;
        while (s.size() < (std::size_t{1} << 20) + 4096) s += w.sentence() + "\n";
        return s;
    }();
    return text;
}

std::int64_t countGraphemes(const std::string& s) {
    UErrorCode status = U_ZERO_ERROR;
    UText ut = UTEXT_INITIALIZER;
    utext_openUTF8(&ut, s.data(), static_cast<std::int64_t>(s.size()), &status);
    UBreakIterator* it = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
    ubrk_setUText(it, &ut, &status);
    std::int64_t n = 0;
    ubrk_first(it);
    while (ubrk_next(it) != UBRK_DONE) ++n;
    ubrk_close(it);
    utext_close(&ut);
    return U_SUCCESS(status) ? n : -1;
}

// A dictated paragraph of exactly 200 characters that reaches most passes.
const std::string& transcript() {
    static const std::string text = [] {
        std::string s =
            "好的,我们下午三点十五分在二号会议室开会,议程如下:第一,确认二零二四年三月五日"
            "的发布计划;第二,预算是两千五百元,比上次增加了百分之十二点五;第三,把接口版本"
            "改成二点零,编号A杠一二三。请提前准备资料,电话幺三八零零一三八零零零。";
        const std::string pad = "谢谢大家的配合与支持。";
        while (countGraphemes(s) < 200) s += pad;
        // Trim to exactly 200 characters (all of them are single scalars here).
        while (countGraphemes(s) > 200) {
            std::size_t cut = s.size() - 1;
            while ((static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
            s.erase(cut);
        }
        return s;
    }();
    return text;
}

void BM_ItnCorpus(benchmark::State& state) {
    const std::string& text = corpus();
    for (auto _ : state) benchmark::DoNotOptimize(zavren::ITN::apply(text));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ItnCorpus)->Unit(benchmark::kMillisecond);

void BM_IcuGraphemesCorpus(benchmark::State& state) {
    const std::string& text = corpus();
    for (auto _ : state) benchmark::DoNotOptimize(countGraphemes(text));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_IcuGraphemesCorpus)->Unit(benchmark::kMillisecond);

void BM_ItnTranscript200(benchmark::State& state) {
    const std::string& text = transcript();
    for (auto _ : state) benchmark::DoNotOptimize(zavren::ITN::apply(text));
    state.counters["chars"] = static_cast<double>(countGraphemes(text));
}
BENCHMARK(BM_ItnTranscript200)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

void BM_ItnPlainText(benchmark::State& state) {
    // Prose without any numeral, 点 or 杠: only the byte scan runs.
    std::string text;
    while (text.size() < (1u << 20)) text += "今天的天气很好,我们去公园散步吧。Hello world!\n";
    for (auto _ : state) benchmark::DoNotOptimize(zavren::ITN::apply(text));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ItnPlainText)->Unit(benchmark::kMillisecond);

// Keeps the throughput of each benchmark so the ratio can be printed at the end.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> bytesPerSecond;
    std::map<std::string, std::pair<double, double>> medianMicros;  // real, CPU

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            const std::string name = r.run_name.function_name;
            if (auto it = r.counters.find("bytes_per_second"); it != r.counters.end())
                bytesPerSecond[name] = it->second;
            if (r.aggregate_name == "median")
                medianMicros[name] = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::printf("corpus: %.2f MB, %lld characters; transcript: %lld characters\n",
                static_cast<double>(corpus().size()) / 1e6,
                static_cast<long long>(countGraphemes(corpus())),
                static_cast<long long>(countGraphemes(transcript())));
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double itn = reporter.bytesPerSecond["BM_ItnCorpus"];
    const double icu = reporter.bytesPerSecond["BM_IcuGraphemesCorpus"];
    if (itn > 0 && icu > 0)
        std::printf(
            "\nITN %.1f MB/s, ICU segmentation alone %.1f MB/s, ratio ITN/ICU %.2f "
            "(target >= 10 MB/s)\n",
            itn / 1e6, icu / 1e6, itn / icu);
    if (auto it = reporter.medianMicros.find("BM_ItnTranscript200");
        it != reporter.medianMicros.end())
        std::printf("200-character transcript: median %.1f us CPU, %.1f us wall (target < 50 us)\n",
                    it->second.second, it->second.first);
    return 0;
}
