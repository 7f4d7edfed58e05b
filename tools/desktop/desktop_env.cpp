#include "desktop/desktop_env.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace zavren::desktop {

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// Before main(): Qt and libpulse read DISPLAY and PULSE_SERVER when they start.
const bool loadedAtStart = loadEnv();

}  // namespace

bool loadEnv() {
    const std::string file = env("ZAVREN_DESKTOP_ENV");
    if (file.empty()) return false;
    std::ifstream in(file);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        ::setenv(line.substr(0, eq).c_str(), line.substr(eq + 1).c_str(), 1);
    }
    return true;
}

bool available() {
    (void)loadedAtStart;
    return !env("DISPLAY").empty() && !env("PULSE_SERVER").empty() &&
           !env("ZAVREN_VMIC_CONTROL").empty();
}

std::optional<MicStatus> micStatus() {
    std::ifstream in(env("ZAVREN_VMIC_STATUS"));
    if (!in) return std::nullopt;
    MicStatus s;
    std::string key;
    bool complete = false;
    while (in >> key) {
        if (key == "applied")
            in >> s.applied;
        else if (key == "mode")
            in >> s.mode;
        else if (key == "epoch_ns")
            in >> s.epochNs;
        else if (key == "chunk_samples")
            complete = static_cast<bool>(in >> s.chunkSamples);
    }
    if (!complete) return std::nullopt;
    return s;
}

bool micCommand(const std::string& line, std::chrono::milliseconds timeout) {
    const auto before = micStatus();
    if (!before) return false;
    // The feeder holds the control FIFO open for reading, so this never blocks.
    int fd = ::open(env("ZAVREN_VMIC_CONTROL").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const std::string text = line + "\n";
    const bool sent = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    if (!sent) return false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (auto now = micStatus(); now && now->applied > before->applied) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

}  // namespace zavren::desktop
