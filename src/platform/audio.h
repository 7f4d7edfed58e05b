#pragma once

#include <memory>
#include <string>

namespace zavren {

// Records the microphone into a RIFF/WAVE file (16 kHz, mono, signed 16-bit LE)
// that grows while recording; its header may hold extra chunks before "data".
class AudioRecorder {
  public:
    virtual ~AudioRecorder() = default;
    virtual bool record() = 0;
    virtual void stop() = 0;  // the file is complete and closed when this returns
    virtual void updateMeters() = 0;
    // dBFS of the latest metering window; -160 with no audio.
    virtual float averagePower() = 0;
    // True once it is known that nothing can be captured (no sound server, no
    // microphone); it may take a moment after record() to tell.
    virtual bool failed() { return false; }
};

class AudioRecorderFactory {
  public:
    virtual ~AudioRecorderFactory() = default;
    // Null when no recorder can be made for that file.
    virtual std::unique_ptr<AudioRecorder> create(const std::string& wavPath) = 0;
};

}  // namespace zavren
