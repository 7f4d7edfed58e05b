#include "pulse/pulse_recorder.h"

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "shared/trace.h"

namespace zavren {

namespace {

constexpr auto CONNECT_TIMEOUT = std::chrono::seconds(2);

}  // namespace

PulseRecorder::PulseRecorder(std::shared_ptr<PulseConnection> connection,
                             std::unique_ptr<WavWriter> file)
    : conn_(std::move(connection)), file_(std::move(file)) {}

PulseRecorder::~PulseRecorder() {
    stop();
}

bool PulseRecorder::record() {
    if (stream_) return true;
    if (used_ || !file_) return false;
    used_ = true;
    bool running = false;
    {
        PulseConnection::Lock lock(*conn_);
        const auto deadline = PulseConnection::Clock::now() + CONNECT_TIMEOUT;
        if (pa_context* ctx = conn_->readyContext(deadline)) {
            const pa_sample_spec spec{PA_SAMPLE_S16LE, WavWriter::SAMPLE_RATE, 1};
            stream_ = pa_stream_new(ctx, "录音", &spec, nullptr);
        }
        if (stream_) {
            pa_stream_set_state_callback(
                stream_,
                [](pa_stream*, void* self) { static_cast<PulseRecorder*>(self)->conn_->signal(); },
                this);
            pa_stream_set_read_callback(
                stream_,
                [](pa_stream* s, size_t, void* self) {
                    static_cast<PulseRecorder*>(self)->onReadable(s);
                },
                this);
            pa_buffer_attr attr{};
            attr.maxlength = static_cast<std::uint32_t>(-1);
            attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
            attr.fragsize = FRAGMENT_BYTES;
            // ADJUST_LATENCY makes the source itself run at our fragment size, so the
            // first samples reach us one fragment after they were captured.
            const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY);
            if (pa_stream_connect_record(stream_, nullptr, &attr, flags) == 0) {
                conn_->waitUntil(
                    [this] {
                        return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)) ||
                               pa_stream_get_state(stream_) == PA_STREAM_READY;
                    },
                    deadline);
                running = pa_stream_get_state(stream_) == PA_STREAM_READY;
            }
            if (!running) closeStream();
        }
    }
    if (!running) {
        // Without audio there is nothing to keep; a header-only file would be sent
        // to the engine as if it were a recording.
        std::string path = file_->path();
        file_.reset();
        ::unlink(path.c_str());
    }
    return running;
}

void PulseRecorder::onReadable(pa_stream* s) {
    while (pa_stream_readable_size(s) > 0) {
        const void* data = nullptr;
        size_t n = 0;
        if (pa_stream_peek(s, &data, &n) < 0 || n == 0) break;
        if (data) {
            file_->append(data, n);
            // Fragments are whole samples; the copy keeps the meter clear of alignment.
            std::vector<std::int16_t> samples(n / 2);
            std::memcpy(samples.data(), data, samples.size() * 2);
            meter_.add(samples.data(), samples.size());
        } else {
            // A hole in the stream: keep the timeline by writing silence.
            std::vector<std::int16_t> zeros(n / 2);
            file_->append(zeros.data(), zeros.size() * 2);
            meter_.add(zeros.data(), zeros.size());
        }
        pa_stream_drop(s);
    }
    latest_.store(meter_.averagePower(), std::memory_order_relaxed);
}

void PulseRecorder::closeStream() {
    if (!stream_) return;
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void PulseRecorder::stop() {
    trace::mark("rec-stop-begin");
    if (stream_) {
        PulseConnection::Lock lock(*conn_);
        // Take what already arrived before cutting the stream.
        if (pa_stream_get_state(stream_) == PA_STREAM_READY) onReadable(stream_);
        closeStream();
    }
    used_ = true;
    if (file_) {
        file_->finish();
        trace::mark("rec-stop-end", static_cast<long long>(file_->dataBytes()));
    }
}

void PulseRecorder::updateMeters() {
    snapshot_ = latest_.load(std::memory_order_relaxed);
}

float PulseRecorder::averagePower() {
    return snapshot_;
}

PulseRecorderFactory::PulseRecorderFactory(std::shared_ptr<PulseConnection> connection)
    : conn_(connection ? std::move(connection) : std::make_shared<PulseConnection>()) {
    conn_->warmUp();
}

std::unique_ptr<AudioRecorder> PulseRecorderFactory::create(const std::string& wavPath) {
    auto file = WavWriter::create(wavPath);
    if (!file) return nullptr;
    return std::make_unique<PulseRecorder>(conn_, std::move(file));
}

}  // namespace zavren
