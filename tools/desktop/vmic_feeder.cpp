// Feeds the virtual microphone (a PulseAudio pipe source) in real time.
//
// A pipe source produces nothing without a writer and passes an unpaced writer's
// data on in one burst, so this writes one small chunk per chunk period on an
// absolute schedule, silence unless told otherwise. Commands arrive one per line
// on the control FIFO:
//   silence                 zeros
//   tone HZ DBFS            a continuous sine
//   play PATH               a 16 kHz mono 16-bit WAV once, then silence
//   timecode                sample k holds k mod 65536 (as int16), for latency
//                           measurements: sample k was "spoken" at epoch + k/16000 s
//   quit
// After each command the status file is rewritten (atomically) as lines
//   applied N / mode NAME / epoch_ns T / chunk_samples C
// where T is CLOCK_MONOTONIC of the current source's sample 0.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int RATE = 16000;

struct Options {
    std::string fifo, control, status;
    int chunkMs = 10;
};

std::int64_t toNs(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

timespec fromNs(std::int64_t ns) {
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

std::int64_t nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return toNs(t);
}

// The PCM samples of a 16 kHz mono 16-bit WAV; empty when the file is not one.
std::vector<std::int16_t> readWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u32 = [&](size_t at) {
        std::uint32_t v = 0;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    auto u16 = [&](size_t at) {
        std::uint16_t v = 0;
        std::memcpy(&v, bytes.data() + at, 2);
        return v;
    };
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") || bytes.compare(8, 4, "WAVE")) return {};
    bool formatOk = false;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const std::uint32_t size = u32(at + 4);
        const std::string id = bytes.substr(at, 4);
        if (id == "fmt " && at + 24 <= bytes.size())
            formatOk =
                u16(at + 8) == 1 && u16(at + 10) == 1 && u32(at + 12) == RATE && u16(at + 22) == 16;
        if (id == "data") {
            if (!formatOk) return {};
            const size_t n = std::min<size_t>(size, bytes.size() - at - 8) / 2;
            std::vector<std::int16_t> samples(n);
            std::memcpy(samples.data(), bytes.data() + at + 8, n * 2);
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

class Feeder {
  public:
    explicit Feeder(Options o) : opt_(std::move(o)), chunk_(RATE * opt_.chunkMs / 1000) {}

    int run() {
        // Non-blocking so a stalled reader costs dropped chunks, never the real-time
        // schedule; readable too, to throw away what nobody listened to.
        out_ = ::open(opt_.fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        ctl_ = ::open(opt_.control.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (out_ < 0 || ctl_ < 0) {
            std::cerr << "vmic-feeder: cannot open " << (out_ < 0 ? opt_.fifo : opt_.control)
                      << ": " << std::strerror(errno) << "\n";
            return 1;
        }
        std::int64_t next = nowNs();
        startSource("silence", next);
        std::vector<std::int16_t> buf(chunk_);
        const std::int64_t period = std::int64_t{opt_.chunkMs} * 1000000;
        for (;;) {
            if (!readCommands(next)) return 0;
            for (int i = 0; i < chunk_; ++i) buf[i] = sample();
            // A chunk leaves once its last sample has been "spoken".
            next += period;
            timespec due = fromNs(next);
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
            }
            // A whole chunk still waiting a period later means nobody is recording.
            if (queued() >= chunk_ * 2) discardUnheard(0);
            [[maybe_unused]] auto n = ::write(out_, buf.data(), buf.size() * 2);
            // After a long stall, restart the schedule instead of bursting to catch up.
            if (nowNs() - next > 10 * period) next = nowNs();
        }
    }

  private:
    // The pipe source stops reading while no stream records, and the FIFO then fills
    // with old audio that a new recording would get in one burst. A microphone has
    // no such memory.
    void discardUnheard(int keep) {
        int queued = 0;
        if (::ioctl(out_, FIONREAD, &queued) != 0) return;
        std::vector<char> sink(4096);
        while (queued > keep) {
            const int want = std::min<int>(queued - keep, static_cast<int>(sink.size()));
            const ssize_t n = ::read(out_, sink.data(), static_cast<size_t>(want & ~1));
            if (n <= 0) return;
            queued -= static_cast<int>(n);
        }
    }

    int queued() const {
        int n = 0;
        return ::ioctl(out_, FIONREAD, &n) == 0 ? n : 0;
    }

    std::int16_t sample() {
        const std::int64_t k = index_++;
        if (mode_ == "tone") {
            const double v =
                amplitude_ * std::sin(2.0 * M_PI * freq_ * static_cast<double>(k) / RATE);
            return static_cast<std::int16_t>(std::lround(v));
        }
        if (mode_ == "timecode")
            return static_cast<std::int16_t>(static_cast<std::uint16_t>(k & 0xffff));
        if (mode_ == "play") {
            if (static_cast<size_t>(k) < clip_.size()) return clip_[static_cast<size_t>(k)];
            clip_.clear();
            mode_ = "silence";
            writeStatus();
        }
        return 0;
    }

    void startSource(const std::string& mode, std::int64_t chunkStartNs) {
        // What the previous source left unheard in the FIFO must not reach the next
        // recording after the switch was acknowledged.
        if (out_ >= 0) discardUnheard(0);
        mode_ = mode;
        index_ = 0;
        epoch_ = chunkStartNs;
        writeStatus();
    }

    bool readCommands(std::int64_t chunkStartNs) {
        char buf[4096];
        for (;;) {
            ssize_t n = ::read(ctl_, buf, sizeof(buf));
            if (n <= 0) break;
            pending_.append(buf, static_cast<size_t>(n));
        }
        size_t nl;
        while ((nl = pending_.find('\n')) != std::string::npos) {
            std::istringstream line(pending_.substr(0, nl));
            pending_.erase(0, nl + 1);
            std::string cmd;
            line >> cmd;
            ++applied_;
            if (cmd == "quit") return false;
            if (cmd == "tone") {
                double db = -12;
                line >> freq_ >> db;
                amplitude_ = 32767.0 * std::pow(10.0, db / 20.0);
                startSource("tone", chunkStartNs);
            } else if (cmd == "play") {
                std::string path;
                std::getline(line >> std::ws, path);
                clip_ = readWav(path);
                if (clip_.empty())
                    std::cerr << "vmic-feeder: not a 16 kHz mono 16-bit WAV: " << path << "\n";
                startSource(clip_.empty() ? "silence" : "play", chunkStartNs);
            } else if (cmd == "timecode") {
                startSource("timecode", chunkStartNs);
            } else {
                startSource("silence", chunkStartNs);
            }
        }
        return true;
    }

    void writeStatus() {
        const std::string tmp = opt_.status + ".tmp";
        {
            std::ofstream s(tmp, std::ios::trunc);
            s << "applied " << applied_ << "\nmode " << mode_ << "\nepoch_ns " << epoch_
              << "\nchunk_samples " << chunk_ << "\n";
        }
        std::rename(tmp.c_str(), opt_.status.c_str());
    }

    Options opt_;
    int chunk_;
    int out_ = -1, ctl_ = -1;
    std::string pending_;
    std::string mode_ = "silence";
    std::int64_t index_ = 0, epoch_ = 0;
    long applied_ = 0;
    double freq_ = 440, amplitude_ = 0;
    std::vector<std::int16_t> clip_;
};

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string k = argv[i], v = argv[i + 1];
        if (k == "--fifo")
            o.fifo = v;
        else if (k == "--control")
            o.control = v;
        else if (k == "--status")
            o.status = v;
        else if (k == "--chunk-ms")
            o.chunkMs = std::atoi(v.c_str());
    }
    if (o.fifo.empty() || o.control.empty() || o.status.empty() || o.chunkMs < 1 ||
        o.chunkMs > 100) {
        std::cerr << "usage: zavren-vmic-feeder --fifo PATH --control PATH --status PATH "
                     "[--chunk-ms 1..100]\n";
        return 2;
    }
    return Feeder(o).run();
}
