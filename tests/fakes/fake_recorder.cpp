#include "fakes/fake_recorder.h"

#include <fcntl.h>
#include <unistd.h>

namespace zavren::fakes {

namespace {

void putLe(std::string& out, std::uint64_t v, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

void writeAt(int fd, std::uint64_t offset, std::uint32_t v) {
    std::string le;
    putLe(le, v, 4);
    (void)::pwrite(fd, le.data(), le.size(), static_cast<off_t>(offset));
}

}  // namespace

FakeAudioRecorder::FakeAudioRecorder(FakeAudioRecorderFactory& factory, int fd)
    : factory_(factory), fd_(fd) {}

FakeAudioRecorder::~FakeAudioRecorder() {
    if (fd_ >= 0) ::close(fd_);
    if (factory_.current_ == this) factory_.current_ = nullptr;
}

// A regular file takes the whole write at once.
void FakeAudioRecorder::writeAll(std::string_view bytes) {
    (void)::write(fd_, bytes.data(), bytes.size());
}

bool FakeAudioRecorder::record() {
    if (fd_ < 0 || recording_ || stopped_) return false;
    recording_ = true;
    if (!factory_.headerOverride.empty()) {
        writeAll(factory_.headerOverride);
        return true;
    }
    // Sizes stay zero until stop(), like a recorder that cannot know them yet.
    std::string h("RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x80\x3e\0\0\0\x7d\0\0\x02\0\x10\0",
                  36);
    for (const auto& c : factory_.extraChunks) {
        h += c.id;
        putLe(h, c.bytes.size(), 4);
        h += c.bytes;
        if (c.bytes.size() % 2 != 0) h.push_back('\0');
    }
    h += "data";
    dataSizeOffset_ = h.size();
    putLe(h, 0, 4);
    writeAll(h);
    return true;
}

void FakeAudioRecorder::feed(std::string_view pcm) {
    if (!recording_ || fd_ < 0) return;
    writeAll(pcm);
    dataBytes_ += pcm.size();
}

bool FakeAudioRecorder::failed() {
    return factory_.failAfterMeters && factory_.meterReads >= *factory_.failAfterMeters;
}

void FakeAudioRecorder::updateMeters() {
    ++factory_.meterReads;
    power_ = factory_.powerFn ? factory_.powerFn() : -160.0f;
}

void FakeAudioRecorder::stop() {
    if (stopped_) return;
    stopped_ = true;
    if (recording_ && fd_ >= 0 && factory_.headerOverride.empty()) {
        const off_t size = ::lseek(fd_, 0, SEEK_END);
        if (size >= 8) writeAt(fd_, 4, static_cast<std::uint32_t>(size - 8));
        writeAt(fd_, dataSizeOffset_, static_cast<std::uint32_t>(dataBytes_));
    }
    recording_ = false;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::unique_ptr<AudioRecorder> FakeAudioRecorderFactory::create(const std::string& wavPath) {
    ++created;
    // Never write through a symlink someone planted at the recording path.
    const int fd =
        ::open(wavPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    std::unique_ptr<FakeAudioRecorder> r(new FakeAudioRecorder(*this, fd));
    current_ = r.get();
    return r;
}

void FakeAudioRecorderFactory::feed(std::string_view pcm) {
    if (current_) current_->feed(pcm);
}

void FakeAudioRecorderFactory::feedSamples(std::size_t count, std::int16_t value) {
    feed(samples(count, value));
}

std::string FakeAudioRecorderFactory::samples(std::size_t count, std::int16_t value) {
    std::string sample;
    putLe(sample, static_cast<std::uint16_t>(value), 2);
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += sample;
    return out;
}

}  // namespace zavren::fakes
