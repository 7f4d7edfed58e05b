#include "dictation/wire.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "harness.h"

namespace zavren {
namespace {

using nlohmann::json;
using testing::chatAnswer;
using testing::ok;

std::string someWav(std::size_t n) {
    std::string w = "RIFF\x24\x00\x00\x00WAVE";
    for (std::size_t i = 0; w.size() < n; ++i) w.push_back(static_cast<char>((i * 131) & 0xff));
    return w;
}

TEST(TranscriptionRequest, ChatCarriesTheAudioThenThePromptWithTheCurrentTerms) {
    test::TempDir dir;
    const std::string wav = someWav(32045);  // odd length: padding in the base64
    const std::string terms = dir / "terms.txt";
    HttpRequest r = transcriptionRequest(EngineKind::llama, wav, FINAL_TIMEOUT, terms);
    EXPECT_EQ(r.url, CHAT_URL);
    EXPECT_EQ(r.headers, (decltype(r.headers){{"Content-Type", "application/json"}}));
    EXPECT_EQ(r.maxBodyBytes, MAX_ANSWER_BYTES);
    EXPECT_EQ(json::parse(r.body),
              json::parse(R"({"temperature":0,"messages":[{"role":"user","content":[
                  {"type":"input_audio","input_audio":{"data":")" +
                          base64::encode(wav) + R"(","format":"wav"}},
                  {"type":"text","text":"请转写这段语音"}]}]})"));

    auto promptOf = [&] {
        return json::parse(transcriptionRequest(EngineKind::llama, "RIFF", PREVIEW_TIMEOUT, terms)
                               .body)["messages"][0]["content"][1]["text"];
    };
    std::ofstream(terms) << "# comment\nA,B\n";
    EXPECT_EQ(promptOf(), "请转写这段语音。可能出现的术语:A B");
    std::ofstream(terms) << "引号\"和\\反斜杠\n";
    EXPECT_EQ(promptOf(), "请转写这段语音。可能出现的术语:引号\"和\\反斜杠");
}

TEST(TranscriptionRequest, ThePlainEngineGetsTheRecordingByteForByteWithoutHeaders) {
    const std::string wav = someWav(1001) + '\0';
    HttpRequest r = transcriptionRequest(EngineKind::python, wav, FINAL_TIMEOUT, "");
    EXPECT_EQ(r.method + r.url + r.body, "POST" + SERVER + wav);
    EXPECT_TRUE(r.headers.empty());
    EXPECT_EQ(r.maxBodyBytes, MAX_ANSWER_BYTES);
}

using F = Transcript::Failure;

struct AnswerCase {
    const char* name;
    HttpResponse response;
    std::string text;
    F failure = F::none;
    EngineKind kind = EngineKind::llama;
};

void PrintTo(const AnswerCase& c, std::ostream* os) {
    *os << c.name;
}

class Answer : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(Answer, Parses) {
    const auto& c = GetParam();
    const Transcript t = parseTranscript(c.kind, c.response);
    EXPECT_EQ(t.text, c.text);
    EXPECT_EQ(t.failure, c.failure);
}

HttpResponse failed(HttpError::Kind kind) {
    return HttpResponse{200, chatAnswer("x"), HttpError{kind, "网络错误"}};
}
HttpResponse chat(const std::string& content) {
    return ok(chatAnswer(content));
}

const auto PLAIN = EngineKind::python;

INSTANTIATE_TEST_SUITE_P(
    Rules, Answer,
    ::testing::Values(
        AnswerCase{"marker", chat("language Chinese<asr_text>  你好\n"), "你好"},
        AnswerCase{"unicodeSpaces", chat("\u3000\u00a0你 好\u2029\t"), "你 好"},
        AnswerCase{"markerOnlyIsEmptyNotFailed", chat("<asr_text>"), ""},
        AnswerCase{"timedOut", failed(HttpError::Kind::timedOut), "", F::noAnswer},
        AnswerCase{"tooLarge", failed(HttpError::Kind::tooLarge), "", F::engineError},
        AnswerCase{"status500", ok(chatAnswer("<asr_text>错误"), 500), "", F::engineError},
        AnswerCase{"overTheCap", chat(std::string(MAX_ANSWER_BYTES, 'a')), "", F::engineError},
        AnswerCase{"exactlyTheCap",
                   chat(std::string(MAX_ANSWER_BYTES - chatAnswer("").size(), 'a')),
                   std::string(MAX_ANSWER_BYTES - chatAnswer("").size(), 'a')},
        AnswerCase{"status299", ok(chatAnswer("x"), 299), "x"},
        AnswerCase{"notJson", ok("<html>502</html>"), "", F::engineError},
        AnswerCase{"truncated", ok(R"({"choices":[{"message":{"content":"你)"), "", F::engineError},
        AnswerCase{"choicesEmpty", ok(R"({"choices":[]})"), "", F::engineError},
        AnswerCase{"noMessage", ok(R"({"choices":[{"text":"x"}]})"), "", F::engineError},
        AnswerCase{"contentArray", ok(R"({"choices":[{"message":{"content":[{"text":"x"}]}}]})"),
                   "", F::engineError},
        AnswerCase{"contentNull", ok(R"({"choices":[{"message":{"content":null}}]})"), "",
                   F::engineError},
        // The plain form's text is used as received: no trimming, no marker.
        AnswerCase{"plainAsReceived", ok(R"({"text":" <asr_text>你好 "})"), " <asr_text>你好 ",
                   F::none, PLAIN},
        AnswerCase{"plainNotAString", ok(R"({"text":5})"), "", F::engineError, PLAIN},
        AnswerCase{"plainStatus503", ok(R"({"text":"x"})", 503), "", F::engineError, PLAIN}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zavren
