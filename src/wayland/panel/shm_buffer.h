#pragma once

#include <QImage>
#include <cstddef>
#include <functional>
#include <memory>

struct wl_buffer;
struct wl_shm;

namespace zavren {

// One premultiplied ARGB picture shared with the compositor through wl_shm.
// Busy from attach until the compositor releases it; drawing into a busy one
// would tear the picture on screen.
class ShmBuffer {
  public:
    // Nothing when the memory cannot be had.
    static std::unique_ptr<ShmBuffer> create(wl_shm* shm, int width, int height,
                                             std::function<void()> onRelease);
    ~ShmBuffer();
    ShmBuffer(const ShmBuffer&) = delete;
    ShmBuffer& operator=(const ShmBuffer&) = delete;

    // The pixels, cleared by no one: the caller paints every one of them.
    QImage image();
    wl_buffer* buffer() const { return buffer_; }
    int width() const { return width_; }
    int height() const { return height_; }
    bool busy = false;

  private:
    ShmBuffer() = default;
    static void released(void* data, wl_buffer* buffer);

    wl_buffer* buffer_ = nullptr;
    void* pixels_ = nullptr;
    std::size_t size_ = 0;
    int width_ = 0;
    int height_ = 0;
    std::function<void()> onRelease_;
};

}  // namespace zavren
