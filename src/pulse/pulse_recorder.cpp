#include "pulse/pulse_recorder.h"

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "shared/trace.h"

namespace zavren {

namespace {

constexpr auto CONNECT_TIMEOUT = std::chrono::seconds(2);

}  // namespace

struct PulseRecorder::Capture {
    // Not owned: the connection runs every task it was given before it goes,
    // and the stream's callbacks end with the stream.
    PulseConnection* conn = nullptr;
    pa_stream* stream = nullptr;  // loop lock

    // Taken by the loop thread for each append and by stop() once, so stop()
    // waits at most for one fragment's write, never for the loop thread.
    std::mutex fileMutex;
    std::unique_ptr<WavWriter> file;
    bool closed = false;  // fileMutex; nothing is appended once set

    std::atomic<bool> stopped{false};
    std::atomic<bool> failed{false};

    PowerMeter meter;                   // loop thread
    std::vector<std::int16_t> samples;  // loop thread
    std::atomic<float> latest{PowerMeter::SILENCE_DB};

    void onReadable(pa_stream* s);
    void closeStream();
};

void PulseRecorder::Capture::onReadable(pa_stream* s) {
    while (pa_stream_readable_size(s) > 0) {
        const void* data = nullptr;
        size_t n = 0;
        if (pa_stream_peek(s, &data, &n) < 0 || n == 0) break;
        // The copy keeps the meter clear of alignment. A hole in the stream (no
        // data) becomes silence, keeping the timeline.
        samples.assign(n / 2, 0);
        if (data) std::memcpy(samples.data(), data, samples.size() * 2);
        {
            std::lock_guard guard(fileMutex);
            if (!closed) {
                if (data)
                    file->append(data, n);
                else
                    file->append(samples.data(), samples.size() * 2);
            }
        }
        meter.add(samples.data(), samples.size());
        pa_stream_drop(s);
    }
    latest.store(meter.averagePower(), std::memory_order_relaxed);
}

void PulseRecorder::Capture::closeStream() {
    if (!stream) return;
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
}

PulseRecorder::PulseRecorder(std::shared_ptr<PulseConnection> connection,
                             std::unique_ptr<WavWriter> file)
    : conn_(std::move(connection)), capture_(std::make_shared<Capture>()) {
    capture_->conn = conn_.get();
    capture_->file = std::move(file);
}

PulseRecorder::~PulseRecorder() {
    stop();
}

bool PulseRecorder::record() {
    if (used_ || !capture_->file) return false;
    used_ = true;
    // Connecting can take the sound server's time (seconds when it is stuck); the
    // key press must not wait for it. Audio is written from the moment the stream runs.
    std::thread([conn = conn_, capture = capture_] { connect(*conn, *capture); }).detach();
    return true;
}

void PulseRecorder::connect(PulseConnection& conn, Capture& capture) {
    Capture* c = &capture;
    PulseConnection::Lock lock(conn);
    if (c->stopped) return;
    const auto deadline = PulseConnection::Clock::now() + CONNECT_TIMEOUT;
    if (pa_context* ctx = conn.readyContext(deadline)) {
        const pa_sample_spec spec{PA_SAMPLE_S16LE, WavWriter::SAMPLE_RATE, 1};
        c->stream = pa_stream_new(ctx, "录音", &spec, nullptr);
    }
    if (!c->stream) {
        c->failed = !c->stopped;
        return;
    }
    pa_stream_set_state_callback(
        c->stream, [](pa_stream*, void* ud) { static_cast<Capture*>(ud)->conn->signal(); }, c);
    pa_stream_set_read_callback(
        c->stream, [](pa_stream* s, size_t, void* ud) { static_cast<Capture*>(ud)->onReadable(s); },
        c);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = FRAGMENT_BYTES;
    // ADJUST_LATENCY makes the source itself run at our fragment size, so the
    // first samples reach us one fragment after they were captured.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_record(c->stream, nullptr, &attr, flags) == 0) {
        // stop() may close the stream meanwhile (the wait lets the loop run).
        conn.waitUntil(
            [c] {
                return !c->stream || !PA_STREAM_IS_GOOD(pa_stream_get_state(c->stream)) ||
                       pa_stream_get_state(c->stream) == PA_STREAM_READY;
            },
            deadline);
    }
    const bool ready = c->stream && pa_stream_get_state(c->stream) == PA_STREAM_READY;
    if (!ready && !c->stopped) c->failed = true;
    if (!ready || c->stopped) c->closeStream();
}

bool PulseRecorder::failed() {
    return capture_->failed;
}

void PulseRecorder::stop() {
    trace::mark("rec-stop-begin");
    used_ = true;
    capture_->stopped = true;
    {
        std::lock_guard guard(capture_->fileMutex);
        capture_->closed = true;
    }
    if (capture_->file) {
        capture_->file->finish();
        trace::mark("rec-stop-end", static_cast<long long>(capture_->file->dataBytes()));
        // A header-only file would go to the engine as if it were a recording.
        if (capture_->file->dataBytes() == 0) ::unlink(capture_->file->path().c_str());
    }
    // The task keeps the capture alive for the callbacks until the stream is gone.
    conn_->post([capture = capture_] { capture->closeStream(); });
}

void PulseRecorder::updateMeters() {
    snapshot_ = capture_->latest.load(std::memory_order_relaxed);
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
