#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zavren {

// A 16 kHz mono 16-bit PCM WAV file that grows as samples arrive: the 44-byte
// header goes first (sizes zero) so readers can follow the file while it grows,
// and the sizes are patched by finish().
class WavWriter {
  public:
    static constexpr std::uint32_t SAMPLE_RATE = 16000;
    static constexpr std::size_t HEADER_BYTES = 44;

    // Null when the path is a symlink, not a regular file, or cannot be written.
    static std::unique_ptr<WavWriter> create(const std::string& path);
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Appends little-endian s16 bytes; false once a write has failed (later data is dropped,
    // what was written stays valid).
    bool append(const void* bytes, std::size_t n);
    // Patches the sizes and closes the file; safe to call twice.
    bool finish();

    std::uint64_t dataBytes() const { return dataBytes_; }
    const std::string& path() const { return path_; }

  private:
    WavWriter(int fd, std::string path);
    bool writeAll(const void* bytes, std::size_t n);

    int fd_;
    std::string path_;
    std::uint64_t dataBytes_ = 0;
    bool failed_ = false;
    bool oddByte_ = false;  // a lone byte would shift every later sample
    std::uint8_t pending_ = 0;
};

}  // namespace zavren
