#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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

    // Starts connecting on a thread of its own and returns at once. One-shot: a
    // recorder that has stopped does not record again.
    bool record() override;
    // Closes the file with everything delivered so far, without waiting for the
    // loop thread: the request waits on this file, while the stream is torn down
    // on the loop thread afterwards. A file that got no audio (the server was down
    // or slower than the key) is removed.
    void stop() override;
    void updateMeters() override;
    float averagePower() override;
    bool failed() override;

    // What the loop thread's callbacks use; outlives the recorder until the
    // stream is torn down.
    struct Capture;

  private:
    std::shared_ptr<PulseConnection> conn_;
    static void connect(PulseConnection& conn, Capture& capture);

    std::shared_ptr<Capture> capture_;
    bool used_ = false;
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
