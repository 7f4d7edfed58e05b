#include "shared/trace.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zavren::trace {

namespace {

bool readFlag() {
    const char* v = std::getenv("ZAVREN_TRACE");
    return v && *v && std::strcmp(v, "0") != 0;
}

void emit(const char* what, const long long* value) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    char line[160];
    const int n =
        value ? std::snprintf(line, sizeof line, "zavren-trace %lld.%06ld %s %lld\n",
                              static_cast<long long>(ts.tv_sec), ts.tv_nsec / 1000, what, *value)
              : std::snprintf(line, sizeof line, "zavren-trace %lld.%06ld %s\n",
                              static_cast<long long>(ts.tv_sec), ts.tv_nsec / 1000, what);
    if (n <= 0) return;
    const auto len =
        n < static_cast<int>(sizeof line) ? static_cast<std::size_t>(n) : sizeof line - 1;
    // One write per line keeps lines from different threads whole.
    [[maybe_unused]] auto w = ::write(STDERR_FILENO, line, len);
}

}  // namespace

bool enabled() {
    static const bool on = readFlag();
    return on;
}

void mark(const char* what) {
    if (enabled()) emit(what, nullptr);
}

void mark(const char* what, long long value) {
    if (enabled()) emit(what, &value);
}

}  // namespace zavren::trace
