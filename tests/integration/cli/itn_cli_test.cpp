// The command-line normaliser run as a real process, as scripts use it.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace {

struct Result {
    int status = -1;
    std::string out;
};

// Runs `zavren <args>` with `input` on standard input.
Result runZavren(const std::string& args, const std::string& input) {
    const std::string in =
        std::filesystem::temp_directory_path() / ("zavren-itn-in-" + std::to_string(::getpid()));
    {
        std::ofstream f(in, std::ios::binary);
        f << input;
    }
    const std::string cmd = std::string(ZAVREN_BIN) + " " + args + " < " + in;
    Result r;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (p == nullptr) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    std::filesystem::remove(in);
    return r;
}

TEST(ItnCommand, NormalisesEachLineOfStandardInput) {
    Result r = runZavren("itn", "电话幺三八零零一三八零零零\n下午三点十五分\n普通文本\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "电话13800138000\n下午3点15分\n普通文本\n");
}

TEST(ItnCommand, KeepsAMissingFinalNewlineAndInvalidBytes) {
    Result r = runZavren("itn", std::string("百分之五十\n\xff\xfe 三点五米"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("50%\n\xff\xfe 三点五米"));
}

TEST(ItnCommand, NormalisesArgumentsOneLineEach) {
    Result r = runZavren("itn 十五块钱 A杠一二三", "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "15块钱\nA-123\n");
}

TEST(ItnCommand, HelpExplainsItself) {
    Result r = runZavren("itn --help", "");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("itn"), std::string::npos);
}

TEST(Cli, UnknownOptionIsAUsageError) {
    Result r = runZavren("--bogus 2>/dev/null", "");
    EXPECT_EQ(r.status, 2);
}

}  // namespace
