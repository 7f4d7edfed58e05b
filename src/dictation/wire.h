#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dispatch.h"
#include "platform/http.h"
#include "shared/types.h"

namespace zavren {

inline const std::string PROMPT = "请转写这段语音";
inline const std::string PROMPT_WITH_TERMS = "请转写这段语音。可能出现的术语:";
inline const std::string ASR_MARKER = "<asr_text>";

// The text part of a chat request for the given terms line.
std::string chatPrompt(const std::string& terms);

// Far more than any transcription; a bigger answer is a broken engine and must
// not be pasted into the user's application.
inline constexpr std::size_t MAX_ANSWER_BYTES = 1 << 20;

// Idle time-outs: a whole recording may take the engine a while, a preview piece
// is short and stale soon.
inline constexpr Duration FINAL_TIMEOUT = seconds(30);
inline constexpr Duration PREVIEW_TIMEOUT = seconds(15);

// The request for the engine kind: llama gets a chat request carrying the WAV as
// base64 audio (the terms file is reread on every call, so edits apply at once),
// the plain engine the raw WAV posted to its root without headers. Answers are
// capped at MAX_ANSWER_BYTES.
HttpRequest transcriptionRequest(EngineKind kind, std::string wav, Duration timeout,
                                 const std::string& termsFile);

struct Transcript {
    // noAnswer: the engine could not be reached or went quiet; engineError: it
    // answered with an error status or something unusable.
    enum class Failure { none, noAnswer, engineError };
    std::string text;
    Failure failure = Failure::none;
};

// A working engine may well answer an empty text; that is not a failure.
Transcript parseTranscript(EngineKind kind, const HttpResponse& response);

// Transcription from a chat answer body: what follows the first "<asr_text>"
// marker (or the whole content), trimmed. None for anything unusable.
std::optional<std::string> parseLlamaText(std::string_view body);

// The "text" member of a plain answer, as received. None for anything unusable.
std::optional<std::string> parsePlainText(std::string_view body);

}  // namespace zavren
