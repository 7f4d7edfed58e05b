#include <cstdio>

#include "cli/cli.h"

// Headless build: only the command-line entries.
int main(int argc, char** argv) {
    if (auto code = zavren::cli::run(argc, argv)) return *code;
    std::fputs("zavren: 此版本不含桌面程序;可用命令见 zavren --help\n", stderr);
    return 2;
}
