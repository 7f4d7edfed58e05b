#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/audio.h"

namespace zavren::fakes {

class FakeAudioRecorderFactory;

// Writes a real RIFF/WAVE file (16 kHz mono s16le) that grows as the test feeds
// samples; the header's size fields are patched at stop(), as real recorders do.
class FakeAudioRecorder : public AudioRecorder {
  public:
    ~FakeAudioRecorder() override;

    bool record() override;
    void stop() override;
    void updateMeters() override;
    float averagePower() override { return power_; }
    bool failed() override;

    // Appends raw sample bytes (any count, odd ones too) to the file.
    void feed(std::string_view pcm);

  private:
    friend class FakeAudioRecorderFactory;
    FakeAudioRecorder(FakeAudioRecorderFactory& factory, int fd);
    void writeAll(std::string_view bytes);

    FakeAudioRecorderFactory& factory_;
    int fd_ = -1;
    bool recording_ = false;
    bool stopped_ = false;
    std::uint64_t dataBytes_ = 0;
    std::uint64_t dataSizeOffset_ = 0;
    float power_ = -160.0f;
};

class FakeAudioRecorderFactory : public AudioRecorderFactory {
  public:
    struct Chunk {
        std::string id;  // four characters
        std::string bytes;
    };

    // Settings for the recorders made from now on.
    std::vector<Chunk> extraChunks;  // written between "fmt " and "data"
    std::string headerOverride;      // when set, written instead of any RIFF header
    // Power reported per updateMeters(); silence without one.
    std::function<float()> powerFn;

    // Recorders made from now on find no sound server: at once, or after this many meter reads.
    std::optional<int> failAfterMeters;

    int created = 0;
    int meterReads = 0;

    std::unique_ptr<AudioRecorder> create(const std::string& wavPath) override;

    // The live recorder, null when none exists.
    FakeAudioRecorder* current() const { return current_; }
    // Feeds the live recorder; does nothing when there is none.
    void feed(std::string_view pcm);
    void feedSamples(std::size_t count, std::int16_t value);

    static std::string samples(std::size_t count, std::int16_t value);

  private:
    friend class FakeAudioRecorder;
    FakeAudioRecorder* current_ = nullptr;
};

}  // namespace zavren::fakes
