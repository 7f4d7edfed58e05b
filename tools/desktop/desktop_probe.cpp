// Waits until an X selection has an owner (a tray host, a compositor), so start-up
// scripts wait on the condition instead of sleeping.
//   zavren-desktop-probe owner SELECTION [TIMEOUT_S]
#include <X11/Xlib.h>
#include <time.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

int main(int argc, char** argv) {
    if (argc < 3 || std::strcmp(argv[1], "owner") != 0) {
        std::cerr << "usage: zavren-desktop-probe owner SELECTION [TIMEOUT_S]\n";
        return 2;
    }
    const double timeout = argc > 3 ? std::atof(argv[3]) : 10.0;
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::cerr << "zavren-desktop-probe: no display\n";
        return 1;
    }
    Atom sel = XInternAtom(d, argv[2], False);
    timespec start{}, now{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        if (XGetSelectionOwner(d, sel) != None) {
            XCloseDisplay(d);
            return 0;
        }
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (static_cast<double>(now.tv_sec - start.tv_sec) +
                static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9 >
            timeout)
            break;
        timespec step{0, 20000000};
        nanosleep(&step, nullptr);
    }
    XCloseDisplay(d);
    std::cerr << "zavren-desktop-probe: nobody owns " << argv[2] << "\n";
    return 1;
}
