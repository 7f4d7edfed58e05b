#include "dictation/controller.h"

#include <cstdio>
#include <utility>

#include "dictation/hints.h"
#include "dictation/level.h"
#include "dictation/wav.h"
#include "shared/constants.h"
#include "shared/files.h"

namespace zavren {

namespace {

constexpr std::size_t WAV_HEADER_BYTES = 44;
constexpr double WAV_BYTES_PER_SECOND = 16000 * 2;

const char* failureHint(Transcript::Failure why) {
    return why == Transcript::Failure::noAnswer ? HINT_NO_ANSWER : HINT_ENGINE_ERROR;
}

double elapsed(TimePoint from, TimePoint to) {
    return std::chrono::duration<double>(to - from).count();
}

std::string secondsText(double secs) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f 秒", secs);
    return buf;
}

std::size_t codePoints(const std::string& text) {
    std::size_t n = 0;
    for (char c : text) n += (static_cast<unsigned char>(c) & 0xc0) != 0x80 ? 1u : 0u;
    return n;
}

}  // namespace

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

void DictationController::onHotkey(HotkeyEvent event) {
    switch (event) {
        case HotkeyEvent::press:
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
        case HotkeyEvent::release:
            if (recording_) stop();
            return;
        // Once the recording is on its way, a cancel would only lose the answer.
        case HotkeyEvent::cancel:
            if (recording_) cancel();
            return;
    }
}

void DictationController::start() {
    retryWav_.reset();
    recording_ = true;
    d_.st.setState(RecState::listening);
    d_.st.setHint(std::nullopt);
    preview_->begin();
    d_.panel.show();

    recorder_ = d_.recorders.create(d_.wavPath);
    if (!recorder_ || !recorder_->record() || recorder_->failed()) {
        microphoneFailed();
        return;
    }

    std::weak_ptr<DictationController> weak = weak_from_this();
    meterTimer_ = d_.dispatcher.repeating(seconds(METER_INTERVAL), [weak] {
        if (auto self = weak.lock()) self->tick();
    });
}

void DictationController::tick() {
    if (!recorder_) return;
    // The sound server may answer only after the key went down. Not from inside
    // the meter's own tick, which microphoneFailed() stops.
    if (recorder_->failed()) {
        std::weak_ptr<DictationController> weak = weak_from_this();
        d_.dispatcher.post([weak] {
            if (auto self = weak.lock();
                self && self->recording_ && self->recorder_ && self->recorder_->failed())
                self->microphoneFailed();
        });
        return;
    }
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
    if (recorder_ && recorder_->failed()) {
        microphoneFailed();
        return;
    }
    recording_ = false;
    stopMeterAndRecorder();
    // The preview text stays until finish(); the indicator hides it once transcribing.
    preview_->end();
    d_.st.setState(RecState::transcribing);

    std::optional<std::string> wav = files::readNoFollow(d_.wavPath);
    files::removeQuietly(d_.wavPath);
    if (!wav || !isRiffWave(*wav)) {
        logOutcome("没有录到声音", 0, std::nullopt, std::nullopt, 0);
        finish();
        return;
    }
    send(std::move(*wav));
}

void DictationController::send(std::string wav) {
    if (d_.engineIsOurs && !d_.engineIsOurs()) {
        logOutcome(std::string("失败(") + HINT_NO_ANSWER + ")", wav.size(), std::nullopt,
                   std::nullopt, 0);
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
    d_.http.send(std::move(request), [weak, &main, polish, kind, sentAt = main.now(),
                                      wav = std::move(wav)](HttpResponse response) mutable {
        if (weak.expired()) return;
        Transcript answer = parseTranscript(kind, response);
        if (!answer.text.empty() && polish) answer.text = polish(std::move(answer.text));
        main.post([weak, sentAt, wav = std::move(wav), answer = std::move(answer)]() mutable {
            if (auto self = weak.lock()) self->onAnswer(std::move(wav), std::move(answer), sentAt);
        });
    });
    // After the hand-off: the request is already on its way.
    d_.paster.prepare();
}

void DictationController::onAnswer(std::string wav, Transcript answer, TimePoint sentAt) {
    const TimePoint answeredAt = d_.dispatcher.now();
    if (answer.failure != Transcript::Failure::none) {
        logOutcome(std::string("失败(") + failureHint(answer.failure) + ")", wav.size(), sentAt,
                   answeredAt, 0);
        failed(answer.failure, std::move(wav));
    } else if (answer.text.empty()) {
        logOutcome("没有识别出文字", wav.size(), sentAt, answeredAt, 0);
    } else {
        std::weak_ptr<DictationController> weak = weak_from_this();
        const std::size_t chars = codePoints(answer.text);
        d_.paster.paste(answer.text, [weak, wavBytes = wav.size(), sentAt, answeredAt,
                                      chars](Paster::Outcome outcome) {
            auto self = weak.lock();
            if (!self) return;
            if (outcome == Paster::Outcome::leftOnClipboard)
                self->flashHint(HINT_PASTE_BY_HAND, PASTE_HINT_SECONDS);
            self->logOutcome(outcome == Paster::Outcome::typed             ? "已粘贴"
                             : outcome == Paster::Outcome::leftOnClipboard ? "留在剪贴板上"
                                                                           : "清理后没有文字",
                             wavBytes, sentAt, answeredAt, chars);
        });
    }
    finish();
}

// Times and sizes only: the text itself never goes into a log.
void DictationController::logOutcome(const std::string& outcome, std::size_t wavBytes,
                                     std::optional<TimePoint> sentAt,
                                     std::optional<TimePoint> answeredAt, std::size_t chars) {
    if (!d_.log) return;
    std::string line = LOG_PREFIX + "听写" + outcome;
    line += ":录音 " + std::to_string(wavBytes) + " 字节";
    if (wavBytes > WAV_HEADER_BYTES)
        line += "(" + secondsText(double(wavBytes - WAV_HEADER_BYTES) / WAV_BYTES_PER_SECOND) + ")";
    if (sentAt && answeredAt) line += ",识别 " + secondsText(elapsed(*sentAt, *answeredAt));
    if (answeredAt && chars > 0)
        line += ",粘贴 " + secondsText(elapsed(*answeredAt, d_.dispatcher.now())) + "," +
                std::to_string(chars) + " 字";
    d_.log->line(line);
}

// Nothing can be heard: say so at once rather than show a listening panel that
// will never hear anything.
void DictationController::microphoneFailed() {
    logOutcome("失败(" + std::string(HINT_NO_MICROPHONE) + ")", 0, std::nullopt, std::nullopt, 0);
    cancel();
    flashHint(HINT_NO_MICROPHONE, FAILURE_HINT_SECONDS);
}

// Never silent: say what went wrong and keep the audio (in memory only) for a retry.
void DictationController::failed(Transcript::Failure why, std::string wav) {
    flashHint(failureHint(why), FAILURE_HINT_SECONDS);
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
