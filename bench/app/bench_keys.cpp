// Presses and releases keys through XTest on one open connection, so a
// measurement does not include starting a process per key. Reads "down KEYCODE"
// and "up KEYCODE" lines on stdin; for each prints the CLOCK_MONOTONIC and
// CLOCK_REALTIME times (seconds) taken right before the request is written to
// the X server, then waits until the server has processed it.
//   zavren-bench-keys
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <time.h>

#include <cstdio>
#include <cstring>

namespace {

double seconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

int main() {
    Display* d = XOpenDisplay(nullptr);
    int ev = 0, err = 0, major = 0, minor = 0;
    if (!d || !XTestQueryExtension(d, &ev, &err, &major, &minor)) {
        std::fprintf(stderr, "zavren-bench-keys: no display with XTest\n");
        return 1;
    }
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        char what[16] = {};
        unsigned code = 0;
        if (std::sscanf(line, "%15s %u", what, &code) != 2 || code < 8 || code > 255 ||
            (std::strcmp(what, "down") != 0 && std::strcmp(what, "up") != 0)) {
            std::fprintf(stderr, "zavren-bench-keys: expected 'down|up KEYCODE'\n");
            continue;
        }
        const double mono = seconds(CLOCK_MONOTONIC);
        const double wall = seconds(CLOCK_REALTIME);
        XTestFakeKeyEvent(d, code, std::strcmp(what, "down") == 0, CurrentTime);
        XFlush(d);
        XSync(d, False);
        std::printf("%.6f %.6f\n", mono, wall);
        std::fflush(stdout);
    }
    XCloseDisplay(d);
    return 0;
}
