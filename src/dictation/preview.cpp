#include <utility>

#include "dictation/controller.h"
#include "dictation/recording_file.h"
#include "dictation/wav.h"
#include "dictation/wire.h"

namespace zavren {

void DictationController::cutSegment() {
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

    previewQueue_.push_back(wrapWav(*bytes));
    pumpPreview();
}

void DictationController::pumpPreview() {
    if (!recording_ || previewInFlight_ || previewQueue_.empty()) return;
    std::string segment = std::move(previewQueue_.front());
    previewQueue_.pop_front();
    const std::uint64_t gen = previewGen_;
    previewInFlight_ = true;

    std::weak_ptr<DictationController> weak = weak_from_this();
    Dispatcher& main = d_.dispatcher;
    previewTask_ = d_.http.send(llamaRequest(segment, d_.previewTimeout, d_.termsFile),
                                [weak, &main, gen](HttpResponse response) {
                                    if (weak.expired()) return;
                                    std::string text = parseLlamaText(answerBody(response));
                                    main.post([weak, gen, text = std::move(text)]() mutable {
                                        if (auto self = weak.lock())
                                            self->onPreviewAnswer(gen, std::move(text));
                                    });
                                });
}

void DictationController::onPreviewAnswer(std::uint64_t gen, std::string text) {
    // Sent before a release, cancel or new start: not ours any more.
    if (gen != previewGen_) return;
    previewInFlight_ = false;
    previewTask_.reset();
    if (recording_ && !text.empty()) {
        if (d_.polish) text = d_.polish(std::move(text));
        if (!text.empty()) {
            std::string preview = d_.st.preview();
            if (!preview.empty()) preview += ' ';
            preview += text;
            d_.st.setPreview(std::move(preview));
        }
    }
    pumpPreview();
}

void DictationController::dropPreviewRequests() {
    ++previewGen_;
    previewQueue_.clear();
    if (auto task = std::exchange(previewTask_, nullptr)) task->cancel();
    previewInFlight_ = false;
}

void DictationController::resetPreview() {
    dropPreviewRequests();
    segStartByte_ = -1;
    seg_.restart();
    d_.st.setPreview("");
}

}  // namespace zavren
