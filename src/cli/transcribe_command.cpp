#include <cstdio>

#include "cli/cli.h"

namespace zavren::cli {

// Placeholder until this entry is built; it says so instead of pretending.
int transcribeCommand(const Args&) {
    std::fputs("zavren: 此命令尚未提供\n", stderr);
    return 3;
}

}  // namespace zavren::cli
