#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dispatch.h"
#include "platform/http.h"

namespace zavren {

inline const std::string PROMPT = "请转写这段语音";
inline const std::string PROMPT_WITH_TERMS = "请转写这段语音。可能出现的术语:";
inline const std::string ASR_MARKER = "<asr_text>";

// The text part of a chat request for the given terms line.
std::string chatPrompt(const std::string& terms);

// Chat-completions request carrying the whole WAV as base64 audio. Reads the
// terms file on every call so edits apply to the next request.
HttpRequest llamaRequest(std::string_view wav, Duration timeout, const std::string& termsFile);

// The raw WAV posted to the engine's root; no headers at all.
HttpRequest plainRequest(std::string wav, Duration timeout);

// Far more than any transcription; a bigger answer is a broken engine and must
// not be pasted into the user's application.
inline constexpr std::size_t MAX_ANSWER_BYTES = 1 << 20;

// The body of a usable answer: none after a transport error, a non-2xx status or
// beyond MAX_ANSWER_BYTES, so an engine's error text is never taken for a
// transcription.
std::optional<std::string> answerBody(const HttpResponse& response);

// Transcription from a chat answer: what follows the first "<asr_text>" marker
// (or the whole content), trimmed. Empty for anything unusable.
std::string parseLlamaText(const std::optional<std::string>& body);

// The "text" member of a plain answer, as received. Empty for anything unusable.
std::string parsePlainText(const std::optional<std::string>& body);

}  // namespace zavren
