#include "wayland/panel/shm_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <wayland-client.h>

namespace zavren {

std::unique_ptr<ShmBuffer> ShmBuffer::create(wl_shm* shm, int width, int height,
                                             std::function<void()> onRelease) {
    if (!shm || width <= 0 || height <= 0) return nullptr;
    const int stride = width * 4;
    const std::size_t size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    const int fd = ::memfd_create("zavren-capsule", MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        ::close(fd);
        return nullptr;
    }
    void* pixels = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<ShmBuffer> b(new ShmBuffer());
    b->pixels_ = pixels;
    b->size_ = size;
    b->width_ = width;
    b->height_ = height;
    b->onRelease_ = std::move(onRelease);
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<int32_t>(size));
    b->buffer_ = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_ARGB8888);
    // The buffer keeps the memory alive on both sides; the pool and fd are done.
    wl_shm_pool_destroy(pool);
    ::close(fd);
    static const wl_buffer_listener listener{.release = &ShmBuffer::released};
    wl_buffer_add_listener(b->buffer_, &listener, b.get());
    return b;
}

ShmBuffer::~ShmBuffer() {
    if (buffer_) wl_buffer_destroy(buffer_);
    if (pixels_) ::munmap(pixels_, size_);
}

void ShmBuffer::released(void* data, wl_buffer*) {
    auto* self = static_cast<ShmBuffer*>(data);
    self->busy = false;
    if (self->onRelease_) self->onRelease_();
}

QImage ShmBuffer::image() {
    // wl_shm's ARGB8888 is Qt's ARGB32 on a little-endian machine, premultiplied both.
    return QImage(static_cast<uchar*>(pixels_), width_, height_, width_ * 4,
                  QImage::Format_ARGB32_Premultiplied);
}

}  // namespace zavren
