#include "dictation/preview.h"

#include <utility>

#include "dictation/recording_file.h"
#include "dictation/wav.h"
#include "dictation/wire.h"

namespace zavren {

std::shared_ptr<PreviewPipeline> PreviewPipeline::create(Deps deps) {
    return std::shared_ptr<PreviewPipeline>(new PreviewPipeline(std::move(deps)));
}

PreviewPipeline::PreviewPipeline(Deps deps) : d_(std::move(deps)) {}

PreviewPipeline::~PreviewPipeline() {
    if (auto task = std::exchange(task_, nullptr)) task->cancel();
}

void PreviewPipeline::begin() {
    dropRequests();
    active_ = true;
    segStartByte_ = -1;
    seg_.restart();
    d_.st.setPreview("");
}

void PreviewPipeline::end() {
    active_ = false;
    dropRequests();
}

void PreviewPipeline::onLevel(float power) {
    if (active_ && seg_.step(power)) cut();
}

void PreviewPipeline::cut() {
    seg_.restart();

    RecordingFile file(d_.wavPath);
    if (!file.isOpen()) return;
    if (segStartByte_ < 0) {
        // The recorder may not have written its whole header yet: try again next cut.
        auto head = file.readAt(0, static_cast<std::int64_t>(WAV_HEADER_SEARCH));
        if (!head) return;
        auto offset = findDataOffset(*head);
        if (!offset) return;
        segStartByte_ = *offset;
    }
    auto size = file.size();
    if (!size || *size < segStartByte_) return;
    // Whole 16-bit samples only; an odd byte waits for the next segment.
    const std::int64_t end = *size - (*size - segStartByte_) % 2;
    // Too short to be worth a request: these bytes open the next segment instead.
    if (end - segStartByte_ < MIN_SEGMENT_BYTES) return;

    auto bytes = file.readAt(segStartByte_, end - segStartByte_);
    if (!bytes || bytes->empty()) return;
    // A short read (the file shrank) still advances by whole samples only.
    if (bytes->size() % 2 != 0) bytes->pop_back();
    segStartByte_ += static_cast<std::int64_t>(bytes->size());

    queue_.push_back(wrapWav(*bytes));
    pump();
}

void PreviewPipeline::pump() {
    if (!active_ || inFlight_ || queue_.empty()) return;
    std::string segment = std::move(queue_.front());
    queue_.pop_front();
    // Whoever listens on the port is not our engine: the piece goes nowhere.
    if (d_.engineIsOurs && !d_.engineIsOurs()) {
        queue_.clear();
        return;
    }
    const std::uint64_t gen = gen_;
    inFlight_ = true;

    std::weak_ptr<PreviewPipeline> weak = weak_from_this();
    Dispatcher& main = d_.dispatcher;
    HttpRequest request =
        transcriptionRequest(EngineKind::llama, std::move(segment), PREVIEW_TIMEOUT, d_.termsFile);
    task_ = d_.http.send(std::move(request), [weak, &main, gen](HttpResponse response) {
        if (weak.expired()) return;
        std::string text = parseTranscript(EngineKind::llama, response).text;
        main.post([weak, gen, text = std::move(text)]() mutable {
            if (auto self = weak.lock()) self->onAnswer(gen, std::move(text));
        });
    });
}

void PreviewPipeline::onAnswer(std::uint64_t gen, std::string text) {
    // Sent before a release, cancel or new start: not ours any more.
    if (gen != gen_) return;
    inFlight_ = false;
    task_.reset();
    if (active_ && !text.empty()) {
        if (d_.polish) text = d_.polish(std::move(text));
        if (!text.empty()) {
            std::string preview = d_.st.preview();
            if (!preview.empty()) preview += ' ';
            preview += text;
            d_.st.setPreview(std::move(preview));
        }
    }
    pump();
}

void PreviewPipeline::dropRequests() {
    ++gen_;
    queue_.clear();
    if (auto task = std::exchange(task_, nullptr)) task->cancel();
    inFlight_ = false;
}

}  // namespace zavren
