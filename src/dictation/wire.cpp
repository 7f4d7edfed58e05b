#include "dictation/wire.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <nlohmann/json.hpp>

#include "shared/base64.h"
#include "shared/constants.h"
#include "text/terms.h"

namespace zavren {

namespace {

using nlohmann::json;

// The body is written around the base64 text so the 2.6 MB payload of a long
// recording is encoded once, straight into its final place.
constexpr std::string_view BODY_HEAD =
    R"({"temperature":0,"messages":[{"role":"user","content":[{"type":"input_audio",)"
    R"("input_audio":{"data":")";
constexpr std::string_view BODY_MID = R"(","format":"wav"}},{"type":"text","text":)";
constexpr std::string_view BODY_TAIL = "}]}]}";

std::string trimUnicodeSpace(std::string_view s) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(s.data());
    const auto n = static_cast<std::int32_t>(s.size());
    std::int32_t begin = 0;
    while (begin < n) {
        std::int32_t next = begin;
        UChar32 c;
        U8_NEXT(p, next, n, c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        begin = next;
    }
    std::int32_t end = n;
    while (end > begin) {
        // Back to the lead byte of the last character, then decode it forwards.
        std::int32_t prev = end - 1;
        while (prev > begin && (p[prev] & 0xC0) == 0x80) --prev;
        std::int32_t next = prev;
        UChar32 c;
        U8_NEXT(p, next, end, c);
        if (c < 0 || next != end || !u_isUWhiteSpace(c)) break;
        end = prev;
    }
    return std::string(
        s.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin)));
}

json parseObject(std::string_view body) {
    json j = json::parse(body, nullptr, false);
    if (!j.is_object()) return json();
    return j;
}

HttpRequest llamaRequest(std::string_view wav, Duration timeout, const std::string& termsFile) {
    HttpRequest r;
    r.method = "POST";
    r.url = CHAT_URL;
    r.headers = {{"Content-Type", "application/json"}};
    r.timeout = timeout;

    const std::string prompt = json(chatPrompt(loadUserTerms(termsFile)))
                                   .dump(-1, ' ', false, json::error_handler_t::replace);
    std::string& body = r.body;
    body.reserve(BODY_HEAD.size() + 4 * ((wav.size() + 2) / 3) + BODY_MID.size() + prompt.size() +
                 BODY_TAIL.size());
    body.append(BODY_HEAD);
    base64::encodeAppend(wav, body);
    body.append(BODY_MID);
    body.append(prompt);
    body.append(BODY_TAIL);
    return r;
}

}  // namespace

std::string chatPrompt(const std::string& terms) {
    return terms.empty() ? PROMPT : PROMPT_WITH_TERMS + terms;
}

HttpRequest transcriptionRequest(EngineKind kind, std::string wav, Duration timeout,
                                 const std::string& termsFile) {
    HttpRequest r;
    if (kind == EngineKind::llama) {
        r = llamaRequest(wav, timeout, termsFile);
    } else {
        r.method = "POST";
        r.url = SERVER;
        r.body = std::move(wav);
        r.timeout = timeout;
    }
    r.maxBodyBytes = MAX_ANSWER_BYTES;
    return r;
}

Transcript parseTranscript(EngineKind kind, const HttpResponse& response) {
    using Failure = Transcript::Failure;
    if (response.error) {
        const bool tooLarge = response.error->kind == HttpError::Kind::tooLarge;
        return {{}, tooLarge ? Failure::engineError : Failure::noAnswer};
    }
    // The size check also guards against a client that ignores the cap.
    if (response.status < 200 || response.status > 299 || response.body.size() > MAX_ANSWER_BYTES)
        return {{}, Failure::engineError};
    auto text =
        kind == EngineKind::llama ? parseLlamaText(response.body) : parsePlainText(response.body);
    if (!text) return {{}, Failure::engineError};
    return {std::move(*text), Failure::none};
}

std::optional<std::string> parseLlamaText(std::string_view body) {
    const json root = parseObject(body);
    if (!root.is_object()) return std::nullopt;
    auto choices = root.find("choices");
    if (choices == root.end() || !choices->is_array() || choices->empty()) return std::nullopt;
    const json& first = choices->front();
    if (!first.is_object()) return std::nullopt;
    auto message = first.find("message");
    if (message == first.end() || !message->is_object()) return std::nullopt;
    auto content = message->find("content");
    if (content == message->end() || !content->is_string()) return std::nullopt;

    std::string_view text = content->get_ref<const std::string&>();
    if (auto at = text.find(ASR_MARKER); at != std::string_view::npos)
        text.remove_prefix(at + ASR_MARKER.size());
    return trimUnicodeSpace(text);
}

std::optional<std::string> parsePlainText(std::string_view body) {
    const json root = parseObject(body);
    if (!root.is_object()) return std::nullopt;
    auto text = root.find("text");
    if (text == root.end() || !text->is_string()) return std::nullopt;
    return text->get<std::string>();
}

}  // namespace zavren
