#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/audio.h"
#include "pulse/power_meter.h"
#include "pulse/pulse_connection.h"
#include "pulse/wav_writer.h"

namespace zavren {

// Records the default PulseAudio source at 16 kHz mono s16le into a growing WAV file.
// Capture runs on the connection's loop thread; the file is written there as each
// fragment arrives, so readers of the growing file see audio within one fragment.
class PulseRecorder : public AudioRecorder {
  public:
    // Small fragments keep the meter and the growing file current and bound what
    // is still in flight when stop() cuts the stream.
    static constexpr std::uint32_t FRAGMENT_BYTES = 640;  // 20 ms

    PulseRecorder(std::shared_ptr<PulseConnection> connection, std::unique_ptr<WavWriter> file);
    ~PulseRecorder() override;

    // Starts capture and returns once the stream is running; false (and the file is
    // removed) when the server or its source is unavailable. One-shot: a recorder
    // that has stopped does not record again.
    bool record() override;
    void stop() override;
    void updateMeters() override;
    float averagePower() override;

  private:
    void onReadable(pa_stream* s);
    void closeStream();

    std::shared_ptr<PulseConnection> conn_;
    std::unique_ptr<WavWriter> file_;
    pa_stream* stream_ = nullptr;
    bool used_ = false;
    PowerMeter meter_;  // loop thread only
    std::atomic<float> latest_{PowerMeter::SILENCE_DB};
    float snapshot_ = PowerMeter::SILENCE_DB;  // main thread
};

class PulseRecorderFactory : public AudioRecorderFactory {
  public:
    // Shares the connection when given one (the microphone check uses it too).
    explicit PulseRecorderFactory(std::shared_ptr<PulseConnection> connection = nullptr);
    std::unique_ptr<AudioRecorder> create(const std::string& wavPath) override;

  private:
    std::shared_ptr<PulseConnection> conn_;
};

}  // namespace zavren
