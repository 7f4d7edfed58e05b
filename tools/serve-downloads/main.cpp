// serve-downloads: serves a downloads folder on 127.0.0.1 for demos, tests and
// benchmarks, optionally misbehaving like a flaky server.
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "download_server.h"

namespace {

const char* USAGE =
    "usage: serve-downloads [options] FOLDER\n"
    "\n"
    "Serves the files of FOLDER (engine.json, the engine archive, latest.json) over\n"
    "HTTP on 127.0.0.1 only, with byte ranges (206 + Content-Range, 416 past the end).\n"
    "Prints the base URL (http://127.0.0.1:PORT) on the first line of stdout, then\n"
    "serves until SIGINT or SIGTERM. Point the program at it with\n"
    "  ZAVREN_UPDATE_BASE=http://127.0.0.1:PORT zavren engine install\n"
    "\n"
    "options:\n"
    "  --port N          port to bind (default 0: any free port)\n"
    "  --verbose         log every request to stderr\n"
    "misbehaviour (for every file, or only for the one named by --only):\n"
    "  --only NAME       misbehave only when serving file NAME\n"
    "  --ignore-range    answer ranged requests with 200 and the whole file\n"
    "  --drop-after N    close the connection after N body bytes of a response\n"
    "  --drop-once       ...only for the first response that reaches N bytes\n"
    "  --status CODE     answer HTTP CODE (with a small HTML page) instead of the file\n"
    "  --throttle RATE   send at most RATE bytes per second (suffix K or M allowed)\n";

bool parseCount(const char* text, long long& out, bool allowSuffix) {
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || v < 0) return false;
    if (allowSuffix && (*end == 'K' || *end == 'k')) {
        v *= 1024;
        ++end;
    } else if (allowSuffix && (*end == 'M' || *end == 'm')) {
        v *= 1024 * 1024;
        ++end;
    }
    if (*end != '\0') return false;
    out = v;
    return true;
}

int usageError(const std::string& what) {
    std::fprintf(stderr, "serve-downloads: %s\n\n%s", what.c_str(), USAGE);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    zavren::tools::Misbehaviour m;
    long long port = 0;
    bool verbose = false;
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) return nullptr;
            (void)name;
            return argv[++i];
        };
        long long n = 0;
        if (a == "--help" || a == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (a == "--port") {
            const char* v = value("--port");
            if (!v || !parseCount(v, port, false) || port > 65535) return usageError("bad --port");
        } else if (a == "--verbose" || a == "-v") {
            verbose = true;
        } else if (a == "--only") {
            const char* v = value("--only");
            if (!v) return usageError("--only needs a file name");
            m.only = v;
        } else if (a == "--ignore-range") {
            m.ignoreRange = true;
        } else if (a == "--drop-after") {
            const char* v = value("--drop-after");
            if (!v || !parseCount(v, n, true)) return usageError("bad --drop-after");
            m.dropAfter = n;
        } else if (a == "--drop-once") {
            m.dropOnce = true;
        } else if (a == "--status") {
            const char* v = value("--status");
            if (!v || !parseCount(v, n, false) || n < 100 || n > 599)
                return usageError("bad --status (100-599)");
            m.status = static_cast<int>(n);
        } else if (a == "--throttle") {
            const char* v = value("--throttle");
            if (!v || !parseCount(v, n, true) || n == 0) return usageError("bad --throttle");
            m.bytesPerSecond = n;
        } else if (!a.empty() && a[0] == '-') {
            return usageError("unknown option " + a);
        } else if (folder.empty()) {
            folder = a;
        } else {
            return usageError("only one FOLDER");
        }
    }
    if (folder.empty()) return usageError("FOLDER missing");
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return usageError("not a folder: " + folder);
    if (m.dropOnce && m.dropAfter < 0) return usageError("--drop-once needs --drop-after");

    // Block the stop signals before any server thread starts, then wait for them here.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    zavren::tools::DownloadServer server(folder);
    server.setVerbose(verbose);
    server.setMisbehaviour(m);
    if (!server.start(static_cast<int>(port))) {
        std::fprintf(stderr, "serve-downloads: cannot bind 127.0.0.1:%lld: %s\n", port,
                     std::strerror(errno));
        return 1;
    }
    std::printf("%s\n", server.baseUrl().c_str());
    std::fflush(stdout);
    int sig = 0;
    sigwait(&stopSignals, &sig);
    server.stop();
    return 0;
}
