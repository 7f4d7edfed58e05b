#include "dictation/controller.h"

#include <utility>

#include "dictation/hints.h"
#include "dictation/hotkey.h"
#include "dictation/level.h"
#include "dictation/wav.h"
#include "dictation/wire.h"
#include "shared/files.h"

namespace zavren {

std::shared_ptr<DictationController> DictationController::create(Deps deps) {
    return std::shared_ptr<DictationController>(new DictationController(std::move(deps)));
}

DictationController::DictationController(Deps deps) : d_(std::move(deps)) {}

// The owner may go away mid-dictation: leave no recorder running and no recording behind.
DictationController::~DictationController() {
    const bool wasRecording = recording_;
    meterTimer_.reset();
    if (recorder_) recorder_->stop();
    recorder_.reset();
    if (auto task = std::exchange(previewTask_, nullptr)) task->cancel();
    if (wasRecording) files::removeQuietly(d_.wavPath);
}

void DictationController::refreshStatusIcon() {
    if (d_.onRecordingChanged) d_.onRecordingChanged();
}

void DictationController::onFlags(const FlagsEvent& event) {
    switch (classifyFlags(event)) {
        case HotkeyAction::ignore:
            return;
        case HotkeyAction::press:
            if (d_.st.engine() == EngineState::ready) {
                if (recording_) cancel();
                start();
            } else {
                flashHint(d_.st.engine() == EngineState::failed ? HINT_ENGINE_FAILED
                                                                : HINT_ENGINE_STARTING,
                          ENGINE_HINT_SECONDS);
            }
            return;
        case HotkeyAction::release:
            if (recording_) stop();
            return;
    }
}

void DictationController::start() {
    recording_ = true;
    d_.st.setState(RecState::listening);
    d_.st.setHint(std::nullopt);
    resetPreview();
    refreshStatusIcon();
    showPanel();

    // No recorder means a silent dictation that ends with nothing typed.
    recorder_ = d_.recorders.create(d_.wavPath);
    if (recorder_) recorder_->record();

    std::weak_ptr<DictationController> weak = weak_from_this();
    meterTimer_ = d_.dispatcher.repeating(seconds(METER_INTERVAL), [weak] {
        if (auto self = weak.lock()) self->tick();
    });
}

void DictationController::tick() {
    if (!recorder_) return;
    recorder_->updateMeters();
    const float p = recorder_->averagePower();
    d_.st.pushLevel(levelFor(p));
    if (d_.currentKind() == EngineKind::llama && seg_.step(p)) cutSegment();
}

void DictationController::stopMeterAndRecorder() {
    meterTimer_.reset();
    if (recorder_) recorder_->stop();
    recorder_.reset();
}

void DictationController::stop() {
    recording_ = false;
    stopMeterAndRecorder();
    // The preview text stays until finish(); the indicator hides it once transcribing.
    dropPreviewRequests();
    d_.st.setState(RecState::transcribing);
    refreshStatusIcon();

    std::optional<std::string> wav = files::readNoFollow(d_.wavPath);
    files::removeQuietly(d_.wavPath);
    if (!wav || !isRiffWave(*wav)) {
        finish();
        return;
    }

    const EngineKind kind = d_.currentKind();
    HttpRequest request = kind == EngineKind::llama
                              ? llamaRequest(*wav, d_.finalTimeout, d_.termsFile)
                              : plainRequest(std::move(*wav), d_.finalTimeout);

    // Runs on the HTTP thread: only parse and polish there, then hop to the main queue.
    // Checking expiry instead of locking keeps the controller from being destroyed here.
    std::weak_ptr<DictationController> weak = weak_from_this();
    Dispatcher& main = d_.dispatcher;
    auto polish = d_.polish;
    d_.http.send(std::move(request), [weak, &main, polish, kind](HttpResponse response) {
        if (weak.expired()) return;
        const auto body = answerBody(response);
        std::string text = kind == EngineKind::llama ? parseLlamaText(body) : parsePlainText(body);
        if (!text.empty() && polish) text = polish(std::move(text));
        main.post([weak, text = std::move(text)] {
            auto self = weak.lock();
            if (!self) return;
            if (!text.empty()) self->inject(text);
            self->finish();
        });
    });
}

void DictationController::finish() {
    // A newer dictation owns the state and the panel now.
    if (recording_) return;
    d_.st.setState(RecState::idle);
    d_.st.setPreview("");
    refreshStatusIcon();
    // A hint raised by the answer (paste by hand) must stay readable; its own
    // timer hides the panel.
    if (!d_.st.hint()) hidePanel();
}

void DictationController::cancel() {
    recording_ = false;
    stopMeterAndRecorder();
    resetPreview();
    files::removeQuietly(d_.wavPath);
    d_.st.setState(RecState::idle);
    refreshStatusIcon();
    hidePanel();
}

}  // namespace zavren
