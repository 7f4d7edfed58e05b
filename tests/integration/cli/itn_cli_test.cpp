// The command line: its dispatch and checks in process, the normaliser as scripts run it.
#include <gtest/gtest.h>

#include "cli/cli.h"
#include "cli/wav_check.h"
#include "support/run_program.h"

namespace zavren::cli {
namespace {

TEST(ItnCommand, NormalisesEachLineOfStandardInputOrEachArgument) {
    auto r = test::runProgram(ZAVREN_BIN, {"itn"}, {}, "电话幺三八零零一三八零零零\n\xff 三点五米");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "电话13800138000\n\xff 三点五米") << "a line of invalid bytes is kept as is";
    r = test::runProgram(ZAVREN_BIN, {"itn", "十五块钱", "A杠一二三"});
    EXPECT_EQ(r.out, "15块钱\nA-123\n");
}

TEST(Cli, OnlyKnownCommandsAndTheToolkitsOwnOptionsAreAccepted) {
    const std::pair<std::vector<std::string>, std::optional<int>> rows[] = {
        {{}, std::nullopt},
        {{"-platform", "offscreen", "--style=fusion", "-reverse"}, std::nullopt},
        {{"--version"}, 0},
        {{"frobnicate"}, 2},
        {{"transcibe", "x.wav"}, 2},
        {{"engine", "frob"}, 2},
        {{"engine", "add", "--llama-server", "s", "--model", "m", "--mmproj", "p", "--script", "x"},
         2},
        {{"engine", "add", "--llama-server", "/none", "--model", "/none", "--mmproj", "/none"}, 2},
        {{"--bogus"}, 2},
        {{"-platform"}, 2},
    };
    for (const auto& [args, want] : rows) {
        std::vector<std::string> argv{"zavren"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (auto& a : argv) cargv.push_back(a.data());
        EXPECT_EQ(run(static_cast<int>(cargv.size()), cargv.data()), want) << argv.back();
    }
}

std::string wav(int format, int channels, int rate, int bits, std::size_t dataBytes) {
    auto le = [](std::uint32_t v, int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += static_cast<char>(v >> (8 * i) & 0xff);
        return s;
    };
    return "RIFF" + le(36 + dataBytes, 4) + "WAVEfmt " + le(16, 4) + le(format, 2) +
           le(channels, 2) + le(rate, 4) + le(rate * channels * bits / 8, 4) +
           le(channels * bits / 8, 2) + le(bits, 2) + "data" + le(dataBytes, 4) +
           std::string(dataBytes, '\0');
}

TEST(WavCheck, OnlyNonEmptySixteenKilohertzMonoSixteenBitPcmPasses) {
    const std::pair<const char*, std::string> refused[] = {
        {"not riff", "hello, this is text"},
        {"stereo", wav(1, 2, 16000, 16, 64)},
        {"44.1 kHz", wav(1, 1, 44100, 16, 64)},
        {"8-bit", wav(1, 1, 16000, 8, 64)},
        {"float", wav(3, 1, 16000, 32, 64)},
        {"header only", wav(1, 1, 16000, 16, 0)},
        {"cut short", wav(1, 1, 16000, 16, 64).substr(0, 30)},
    };
    for (const auto& [name, bytes] : refused) EXPECT_TRUE(wavProblem(bytes)) << name;
    EXPECT_EQ(wavProblem(wav(1, 1, 16000, 16, 64)), std::nullopt);
}

}  // namespace
}  // namespace zavren::cli
