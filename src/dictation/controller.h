#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "dictation/segmenter.h"
#include "platform/audio.h"
#include "platform/dispatch.h"
#include "platform/http.h"
#include "platform/input.h"
#include "platform/pasteboard.h"
#include "platform/ui.h"
#include "shared/app_state.h"
#include "shared/types.h"

namespace zavren {

// Push-to-talk: records while the hotkey is held, previews pause-cut pieces for the
// llama engine, sends the whole recording at release and pastes the answer.
// Main thread only; every closure that outlives a call holds the controller weakly.
class DictationController : public std::enable_shared_from_this<DictationController> {
  public:
    struct Deps {
        AppState& st;
        // Must outlive every request the controller sends: completions post through it.
        Dispatcher& dispatcher;
        HttpClient& http;
        AudioRecorderFactory& recorders;
        Pasteboard& pasteboard;
        KeySynthesizer& keys;
        AccessibilityTrust& trust;
        IndicatorPanel& panel;
        std::string wavPath;
        std::string termsFile;
        std::function<EngineKind()> currentKind;
        // Final answers are polished on the HTTP thread, preview answers on the main one.
        std::function<std::string(std::string)> polish;
        // The status icon follows the recording flag.
        std::function<void()> onRecordingChanged;
        Duration finalTimeout = seconds(30);
        Duration previewTimeout = seconds(15);
    };

    static constexpr double METER_INTERVAL = 0.06;
    static constexpr double RESTORE_DELAY = 0.4;
    static constexpr std::int64_t MIN_SEGMENT_BYTES = 12800;

    static std::shared_ptr<DictationController> create(Deps deps);
    ~DictationController();
    DictationController(const DictationController&) = delete;
    DictationController& operator=(const DictationController&) = delete;

    void onFlags(const FlagsEvent& event);
    void start();
    void stop();
    void cancel();
    void finish();
    void tick();

    // Live preview.
    void cutSegment();
    void pumpPreview();
    void resetPreview();

    void inject(const std::string& text);

    void showPanel();
    void hidePanel();
    void flashHint(const std::string& text, double seconds = 1.2);

    bool recording() const { return recording_; }
    // For tests and diagnostics.
    std::int64_t segStartByte() const { return segStartByte_; }
    std::size_t previewQueueSize() const { return previewQueue_.size(); }
    bool previewInFlight() const { return previewInFlight_; }

  private:
    explicit DictationController(Deps deps);
    void stopMeterAndRecorder();
    void refreshStatusIcon();
    void dropPreviewRequests();
    void onPreviewAnswer(std::uint64_t gen, std::string text);

    Deps d_;
    bool recording_ = false;
    std::unique_ptr<AudioRecorder> recorder_;
    std::unique_ptr<Timer> meterTimer_;

    std::int64_t segStartByte_ = -1;
    Segmenter seg_;
    std::deque<std::string> previewQueue_;
    bool previewInFlight_ = false;
    std::shared_ptr<HttpTask> previewTask_;
    std::uint64_t previewGen_ = 0;
};

}  // namespace zavren
