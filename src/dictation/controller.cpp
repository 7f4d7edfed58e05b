#include "dictation/controller.h"

#include <utility>

#include "dictation/hints.h"
#include "dictation/hotkey.h"
#include "dictation/level.h"
#include "dictation/wav.h"
#include "shared/files.h"

namespace zavren {

std::shared_ptr<DictationController> DictationController::create(Deps deps) {
    return std::shared_ptr<DictationController>(new DictationController(std::move(deps)));
}

DictationController::DictationController(Deps deps)
    : d_(std::move(deps)),
      preview_(PreviewPipeline::create(
          {d_.st, d_.dispatcher, d_.http, d_.wavPath, d_.termsFile, d_.polish, d_.engineIsOurs})) {}

// The owner may go away mid-dictation: leave no recorder running and no recording behind.
DictationController::~DictationController() {
    const bool wasRecording = recording_;
    meterTimer_.reset();
    if (recorder_) recorder_->stop();
    recorder_.reset();
    if (wasRecording) files::removeQuietly(d_.wavPath);
}

void DictationController::onFlags(const FlagsEvent& event) {
    switch (classifyFlags(event)) {
        case HotkeyAction::ignore:
            return;
        case HotkeyAction::press:
            if (d_.st.engine() == EngineState::ready) {
                if (recording_) cancel();
                start();
            } else if (d_.st.engine() == EngineState::notInstalled) {
                flashHint(HINT_NOT_INSTALLED, ENGINE_HINT_SECONDS);
                if (d_.showInstaller) d_.showInstaller();
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
    // The user's clipboard must be back before anything else touches it.
    d_.paster.restoreNow();
    retryWav_.reset();
    recording_ = true;
    d_.st.setState(RecState::listening);
    d_.st.setHint(std::nullopt);
    preview_->begin();
    d_.panel.show();

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
    if (d_.currentKind() == EngineKind::llama) preview_->onLevel(p);
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
    preview_->end();
    d_.st.setState(RecState::transcribing);

    std::optional<std::string> wav = files::readNoFollow(d_.wavPath);
    files::removeQuietly(d_.wavPath);
    if (!wav || !isRiffWave(*wav)) {
        finish();
        return;
    }
    send(std::move(*wav));
}

void DictationController::send(std::string wav) {
    if (d_.engineIsOurs && !d_.engineIsOurs()) {
        failed(Transcript::Failure::noAnswer, std::move(wav));
        finish();
        return;
    }
    const EngineKind kind = d_.currentKind();
    HttpRequest request = transcriptionRequest(kind, wav, FINAL_TIMEOUT, d_.termsFile);

    // Runs on the HTTP thread: only parse and polish there, then hop to the main queue.
    // Checking expiry instead of locking keeps the controller from being destroyed here.
    std::weak_ptr<DictationController> weak = weak_from_this();
    Dispatcher& main = d_.dispatcher;
    auto polish = d_.polish;
    d_.http.send(std::move(request),
                 [weak, &main, polish, kind, wav = std::move(wav)](HttpResponse response) mutable {
                     if (weak.expired()) return;
                     Transcript answer = parseTranscript(kind, response);
                     if (!answer.text.empty() && polish)
                         answer.text = polish(std::move(answer.text));
                     main.post([weak, wav = std::move(wav), answer = std::move(answer)]() mutable {
                         if (auto self = weak.lock())
                             self->onAnswer(std::move(wav), std::move(answer));
                     });
                 });
    // After the hand-off: the request is already on its way.
    d_.paster.prepare();
}

void DictationController::onAnswer(std::string wav, Transcript answer) {
    if (answer.failure != Transcript::Failure::none) {
        failed(answer.failure, std::move(wav));
    } else if (!answer.text.empty() &&
               d_.paster.paste(answer.text) == Paster::Outcome::leftOnClipboard) {
        flashHint(HINT_PASTE_BY_HAND, PASTE_HINT_SECONDS);
    }
    finish();
}

// Never silent: say what went wrong and keep the audio (in memory only) for a retry.
void DictationController::failed(Transcript::Failure why, std::string wav) {
    flashHint(why == Transcript::Failure::noAnswer ? HINT_NO_ANSWER : HINT_ENGINE_ERROR,
              FAILURE_HINT_SECONDS);
    retryWav_ = std::move(wav);
    const std::uint64_t gen = ++retryGen_;
    std::weak_ptr<DictationController> weak = weak_from_this();
    d_.dispatcher.postAfter(seconds(RETRY_KEEP), [weak, gen] {
        if (auto self = weak.lock(); self && self->retryGen_ == gen) self->retryWav_.reset();
    });
}

bool DictationController::canRetry() const {
    return retryWav_ && !recording_ && d_.st.state() == RecState::idle &&
           d_.st.engine() == EngineState::ready;
}

void DictationController::retryLast() {
    if (!canRetry()) return;
    ++retryGen_;
    std::string wav = std::exchange(retryWav_, std::nullopt).value();
    d_.st.setState(RecState::transcribing);
    d_.st.setHint(std::nullopt);
    d_.panel.show();
    send(std::move(wav));
}

void DictationController::finish() {
    d_.paster.forgetPrepared();
    // A newer dictation owns the state and the panel now.
    if (recording_) return;
    d_.st.setState(RecState::idle);
    d_.st.setPreview("");
    // A hint raised by the answer must stay readable; its own timer hides the panel.
    if (!d_.st.hint()) d_.panel.hide();
}

void DictationController::cancel() {
    recording_ = false;
    stopMeterAndRecorder();
    preview_->end();
    d_.st.setPreview("");
    files::removeQuietly(d_.wavPath);
    d_.st.setState(RecState::idle);
    d_.panel.hide();
}

// Each hint schedules its own clearing, which clears whatever hint is showing then.
void DictationController::flashHint(const std::string& text, double secs) {
    d_.st.setHint(text);
    d_.panel.showHint(text, secs);
    std::weak_ptr<DictationController> weak = weak_from_this();
    d_.dispatcher.postAfter(seconds(secs), [weak] {
        auto self = weak.lock();
        if (!self) return;
        self->d_.st.setHint(std::nullopt);
        if (!self->recording_) self->d_.panel.hide();
    });
}

}  // namespace zavren
