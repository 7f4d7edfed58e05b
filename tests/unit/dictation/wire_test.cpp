#include "dictation/wire.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "harness.h"

namespace zavren {
namespace {

using nlohmann::json;
using namespace std::string_literals;
using testing::chatAnswer;
using testing::ok;

TEST(TranscriptionRequest, ChatCarriesTheAudioThenThePromptWithTheCurrentTerms) {
    test::TempDir dir;
    const std::string wav = "RIFF\x24\x00\x00\x00WAVE" + std::string(32033, '\xa5');  // odd length
    const std::string terms = dir / "terms.txt";
    HttpRequest r = transcriptionRequest(EngineKind::llama, wav, FINAL_TIMEOUT, terms);
    EXPECT_EQ(r.method + r.url, "POST" + CHAT_URL);
    EXPECT_EQ(r.headers, (decltype(r.headers){{"Content-Type", "application/json"}}));
    EXPECT_EQ(r.maxBodyBytes, MAX_ANSWER_BYTES);
    EXPECT_EQ(json::parse(r.body),
              json::parse(R"({"temperature":0,"messages":[{"role":"user","content":[
                  {"type":"input_audio","input_audio":{"data":")" +
                          base64::encode(wav) + R"(","format":"wav"}},
                  {"type":"text","text":)" +
                          json(PROMPT).dump() + "}]}]}"));

    std::ofstream(terms) << "# comment\nA,B\n引号\"和\\反斜杠\n";
    r = transcriptionRequest(EngineKind::llama, "RIFF", PREVIEW_TIMEOUT, terms);
    EXPECT_EQ(json::parse(r.body)["messages"][0]["content"][1]["text"],
              PROMPT_WITH_TERMS + "A B 引号\"和\\反斜杠");
}

TEST(TranscriptionRequest, ThePlainEngineGetsTheRecordingByteForByteWithoutHeaders) {
    HttpRequest r = transcriptionRequest(EngineKind::python, "RIFF\0x"s, FINAL_TIMEOUT, "");
    EXPECT_EQ(r.method + r.url + r.body, "POST" + SERVER + "RIFF\0x"s);
    EXPECT_TRUE(r.headers.empty());
    EXPECT_EQ(r.maxBodyBytes, MAX_ANSWER_BYTES);
}

TEST(ParseTranscript, TakesTheTextAfterTheMarkerAndRejectsWhatIsNotAnAnswer) {
    using F = Transcript::Failure;
    const auto plain = EngineKind::python;
    const auto failed = [](HttpError::Kind kind) {
        return HttpResponse{200, chatAnswer("x"), HttpError{kind, "网络错误"}};
    };
    const std::string fill(MAX_ANSWER_BYTES - chatAnswer("").size(), 'a');
    struct Case {
        const char* name;
        HttpResponse response;
        std::string text;
        F failure = F::none;
        EngineKind kind = EngineKind::llama;
    } cases[] = {
        {"marker", ok(chatAnswer("language Chinese<asr_text>  你好\n")), "你好"},
        {"unicodeSpaces", ok(chatAnswer("\u3000\u00a0你 好\u2029\t")), "你 好"},
        {"markerOnlyIsEmptyNotFailed", ok(chatAnswer("<asr_text>")), ""},
        {"timedOut", failed(HttpError::Kind::timedOut), "", F::noAnswer},
        {"tooLarge", failed(HttpError::Kind::tooLarge), "", F::engineError},
        {"status500", ok(chatAnswer("<asr_text>错误"), 500), "", F::engineError},
        {"status199", ok(chatAnswer("x"), 199), "", F::engineError},
        {"status299", ok(chatAnswer("x"), 299), "x"},
        {"exactlyTheCap", ok(chatAnswer(fill)), fill},
        {"overTheCap", ok(chatAnswer(fill + "a")), "", F::engineError},
        {"notJson", ok("<html>502</html>"), "", F::engineError},
        {"truncated", ok(R"({"choices":[{"message":{"content":"你)"), "", F::engineError},
        {"choicesEmpty", ok(R"({"choices":[]})"), "", F::engineError},
        {"noMessage", ok(R"({"choices":[{"text":"x"}]})"), "", F::engineError},
        {"contentNull", ok(R"({"choices":[{"message":{"content":null}}]})"), "", F::engineError},
        // The plain form's text is used as received: no trimming, no marker.
        {"plainAsReceived", ok(R"({"text":" <asr_text>你好 "})"), " <asr_text>你好 ", F::none,
         plain},
        {"plainNotAString", ok(R"({"text":5})"), "", F::engineError, plain},
    };
    for (const auto& c : cases) {
        const Transcript t = parseTranscript(c.kind, c.response);
        EXPECT_EQ(t.text, c.text) << c.name;
        EXPECT_EQ(t.failure, c.failure) << c.name;
    }
}

}  // namespace
}  // namespace zavren
