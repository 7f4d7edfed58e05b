#include "pulse/wav_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <limits>

namespace zavren {

namespace {

// The RIFF size fields are 32-bit; stop growing before they would wrap.
constexpr std::uint64_t MAX_DATA_BYTES = std::numeric_limits<std::uint32_t>::max() - 36u - 1u;

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::array<std::uint8_t, WavWriter::HEADER_BYTES> header(std::uint32_t dataBytes) {
    std::array<std::uint8_t, WavWriter::HEADER_BYTES> h{};
    std::memcpy(&h[0], "RIFF", 4);
    put32(&h[4], 36 + dataBytes);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    put32(&h[16], 16);
    put16(&h[20], 1);  // PCM
    put16(&h[22], 1);  // mono
    put32(&h[24], WavWriter::SAMPLE_RATE);
    put32(&h[28], WavWriter::SAMPLE_RATE * 2);
    put16(&h[32], 2);
    put16(&h[34], 16);
    std::memcpy(&h[36], "data", 4);
    put32(&h[40], dataBytes);
    return h;
}

}  // namespace

std::unique_ptr<WavWriter> WavWriter::create(const std::string& path) {
    // O_NONBLOCK so a FIFO planted at the path cannot hang us before the type check.
    int fd = ::open(path.c_str(),
                    O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fchmod(fd, 0600) != 0 ||
        ::fcntl(fd, F_SETFL, 0) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<WavWriter> w(new WavWriter(fd, path));
    auto h = header(0);
    if (!w->writeAll(h.data(), h.size())) return nullptr;
    return w;
}

WavWriter::WavWriter(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

WavWriter::~WavWriter() {
    finish();
}

bool WavWriter::writeAll(const void* bytes, std::size_t n) {
    auto p = static_cast<const char*>(bytes);
    while (n > 0) {
        ssize_t w = ::write(fd_, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            failed_ = true;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

bool WavWriter::append(const void* bytes, std::size_t n) {
    if (fd_ < 0 || failed_) return false;
    auto p = static_cast<const std::uint8_t*>(bytes);
    if (n == 0) return true;
    if (oddByte_) {
        std::uint8_t pair[2] = {pending_, p[0]};
        oddByte_ = false;
        ++p;
        --n;
        if (!append(pair, 2)) return false;
    }
    if (n % 2 != 0) {
        pending_ = p[n - 1];
        oddByte_ = true;
        --n;
    }
    if (dataBytes_ + n > MAX_DATA_BYTES)
        n = static_cast<std::size_t>(MAX_DATA_BYTES - dataBytes_) & ~std::size_t{1};
    if (n == 0) return dataBytes_ < MAX_DATA_BYTES;
    if (!writeAll(p, n)) return false;
    dataBytes_ += n;
    return true;
}

bool WavWriter::finish() {
    if (fd_ < 0) return !failed_;
    auto h = header(static_cast<std::uint32_t>(dataBytes_));
    bool ok = ::pwrite(fd_, h.data(), h.size(), 0) == static_cast<ssize_t>(h.size());
    ok = (::close(fd_) == 0) && ok;
    fd_ = -1;
    if (!ok) failed_ = true;
    return !failed_;
}

}  // namespace zavren
