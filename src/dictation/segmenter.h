#pragma once

namespace zavren {

// Per-tick pause detection for the live preview. One tick is one meter reading.
struct Segmenter {
    static constexpr float LOUD_DB = -35.0f;   // strictly above: speech
    static constexpr float QUIET_DB = -42.0f;  // strictly below: silence
    static constexpr int MAX_QUIET_TICKS = 9;  // the 10th quiet tick cuts
    static constexpr int MAX_SEG_TICKS = 100;  // 6 s after the first loud tick

    int segTicks = 0;
    int silenceTicks = 0;
    bool segHasSpeech = false;

    // Counts one tick of power p (dBFS); true when the segment should be cut now.
    // The caller restarts the counters when it cuts.
    bool step(float p) {
        ++segTicks;
        if (p > LOUD_DB) {
            // Length counts from the first loud tick, so leading silence never forces a cut.
            if (!segHasSpeech) segTicks = 0;
            segHasSpeech = true;
            silenceTicks = 0;
        } else if (p < QUIET_DB) {
            ++silenceTicks;
        }
        return segHasSpeech && (silenceTicks > MAX_QUIET_TICKS || segTicks >= MAX_SEG_TICKS);
    }

    void restart() { *this = Segmenter{}; }
};

}  // namespace zavren
