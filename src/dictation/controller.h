#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "dictation/paste.h"
#include "dictation/preview.h"
#include "dictation/wire.h"
#include "platform/audio.h"
#include "platform/dispatch.h"
#include "platform/http.h"
#include "platform/input.h"
#include "platform/log.h"
#include "platform/ui.h"
#include "shared/app_state.h"
#include "shared/types.h"

namespace zavren {

// Push-to-talk: records while the hotkey is held, previews pause-cut pieces for the
// llama engine, sends the whole recording at release and pastes the answer. A
// failed recording is kept in memory for a while so the user can resend it.
// Main thread only; every closure that outlives a call holds the controller weakly.
class DictationController : public std::enable_shared_from_this<DictationController> {
  public:
    struct Deps {
        AppState& st;
        // Must outlive every request the controller sends: completions post through it.
        Dispatcher& dispatcher;
        HttpClient& http;
        AudioRecorderFactory& recorders;
        Paster& paster;
        IndicatorPanel& panel;
        std::string wavPath;
        std::string termsFile;
        std::function<EngineKind()> currentKind;
        // Final answers are polished on the HTTP thread, preview answers on the main one.
        std::function<std::string(std::string)> polish;
        // Whether the listener on the engine port is our own engine; asked before
        // anything is sent.
        std::function<bool()> engineIsOurs;
        // Where each dictation's outcome is written, one line each; none in some tests.
        SystemLog* log = nullptr;
        // Where a key press leads while no engine is installed: the first-run window.
        std::function<void()> showInstaller{};
    };

    static constexpr double METER_INTERVAL = 0.06;
    // How long a failed recording can be sent again.
    static constexpr double RETRY_KEEP = 120.0;

    static std::shared_ptr<DictationController> create(Deps deps);
    ~DictationController();
    DictationController(const DictationController&) = delete;
    DictationController& operator=(const DictationController&) = delete;

    void onHotkey(HotkeyEvent event);
    void flashHint(const std::string& text, double seconds);

    bool canRetry() const;
    void retryLast();

  private:
    explicit DictationController(Deps deps);
    void start();
    void cancel();
    void stop();
    void tick();
    void send(std::string wav);
    void onAnswer(std::string wav, Transcript answer, TimePoint sentAt);
    void failed(Transcript::Failure why, std::string wav);
    void microphoneFailed();
    void logOutcome(const std::string& outcome, std::size_t wavBytes,
                    std::optional<TimePoint> sentAt, std::optional<TimePoint> answeredAt,
                    std::size_t chars);
    void finish();
    void stopMeterAndRecorder();

    Deps d_;
    std::shared_ptr<PreviewPipeline> preview_;
    bool recording_ = false;
    std::unique_ptr<AudioRecorder> recorder_;
    std::unique_ptr<Timer> meterTimer_;
    std::optional<std::string> retryWav_;
    std::uint64_t retryGen_ = 0;
};

}  // namespace zavren
