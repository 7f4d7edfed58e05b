#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zavren {

// Read-only view of the recording the recorder is still writing. Never follows a
// symlink: the path lives in a folder another program could try to plant one in.
class RecordingFile {
  public:
    explicit RecordingFile(const std::string& path);
    ~RecordingFile();
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    std::optional<std::int64_t> size() const;
    // Up to length bytes from offset; fewer at end of file, none on error.
    std::optional<std::string> readAt(std::int64_t offset, std::int64_t length) const;

  private:
    int fd_ = -1;
};

}  // namespace zavren
