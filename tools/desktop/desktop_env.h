#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// The private desktop of the system tests, seen from inside a test.
namespace zavren::desktop {

// Puts the KEY=VALUE lines of the file named by ZAVREN_DESKTOP_ENV into the
// environment. Runs by itself before main() in every program linked with the
// harness; false when there is no such file (the desktop fixture did not run).
bool loadEnv();
// True once the desktop's DISPLAY and PULSE_SERVER are in the environment.
bool available();

struct MicStatus {
    long applied = 0;          // commands taken so far
    std::string mode;          // silence, tone, play, timecode
    std::int64_t epochNs = 0;  // CLOCK_MONOTONIC of the current source's first sample
    int chunkSamples = 0;
};
std::optional<MicStatus> micStatus();

// Sends one command line to the virtual microphone's feeder and waits until it
// has taken effect (the next chunk carries it).
bool micCommand(const std::string& line,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
inline bool micSilence() {
    return micCommand("silence");
}
inline bool micTone(double hz, double dbfs) {
    return micCommand("tone " + std::to_string(hz) + " " + std::to_string(dbfs));
}
inline bool micTimecode() {
    return micCommand("timecode");
}

}  // namespace zavren::desktop
