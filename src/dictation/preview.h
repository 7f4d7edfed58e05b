#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "dictation/segmenter.h"
#include "platform/dispatch.h"
#include "platform/http.h"
#include "shared/app_state.h"

namespace zavren {

// Live preview while recording: cuts the growing recording at pauses and sends
// each new piece to the llama engine, one request at a time, appending the
// answers to the preview text. Main thread only.
class PreviewPipeline : public std::enable_shared_from_this<PreviewPipeline> {
  public:
    struct Deps {
        AppState& st;
        Dispatcher& dispatcher;
        HttpClient& http;
        std::string wavPath;
        std::string termsFile;
        std::function<std::string(std::string)> polish;
        // Asked before every piece; false sends nothing.
        std::function<bool()> engineIsOurs;
    };

    static constexpr std::int64_t MIN_SEGMENT_BYTES = 12800;

    static std::shared_ptr<PreviewPipeline> create(Deps deps);
    ~PreviewPipeline();

    // A new recording: nothing cut yet, no preview text.
    void begin();
    // One meter reading of the recording in progress.
    void onLevel(float power);
    // The recording ended: pieces not yet answered are dropped, the text stays.
    void end();

  private:
    explicit PreviewPipeline(Deps deps);
    void cut();
    void pump();
    void dropRequests();
    void onAnswer(std::uint64_t gen, std::string text);

    Deps d_;
    bool active_ = false;
    std::int64_t segStartByte_ = -1;
    Segmenter seg_;
    std::deque<std::string> queue_;
    bool inFlight_ = false;
    std::shared_ptr<HttpTask> task_;
    std::uint64_t gen_ = 0;
};

}  // namespace zavren
