#include "dictation/wire.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "harness.h"
#include "shared/base64.h"
#include "shared/constants.h"

namespace zavren {
namespace {

using nlohmann::json;
using testing::TempDir;

std::string someWav(std::size_t n) {
    std::string w = "RIFF\x24\x00\x00\x00WAVE";
    for (std::size_t i = 0; w.size() < n; ++i) w.push_back(static_cast<char>((i * 131) & 0xff));
    return w;
}

std::optional<std::string> headerValue(const HttpRequest& r, const std::string& name) {
    for (const auto& [k, v] : r.headers)
        if (k == name) return v;
    return std::nullopt;
}

TEST(ChatRequest, ParsesBackToOneUserMessageWithAudioThenPrompt) {
    TempDir dir;
    const std::string wav = someWav(32045);  // odd length: padding in the base64
    HttpRequest r = llamaRequest(wav, seconds(30), dir.path + "/missing.txt");

    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.url, "http://127.0.0.1:8765/v1/chat/completions");
    ASSERT_EQ(r.headers.size(), 1u);
    EXPECT_EQ(headerValue(r, "Content-Type"), "application/json");
    EXPECT_EQ(r.timeout, seconds(30));
    EXPECT_EQ(r.body.find('\n'), std::string::npos);

    const json body = json::parse(r.body);
    ASSERT_EQ(body.size(), 2u);  // temperature and messages, nothing else
    EXPECT_TRUE(body["temperature"].is_number_integer());
    EXPECT_EQ(body["temperature"], 0);
    ASSERT_EQ(body["messages"].size(), 1u);
    const json& msg = body["messages"][0];
    EXPECT_EQ(msg["role"], "user");
    ASSERT_EQ(msg["content"].size(), 2u);
    const json& audio = msg["content"][0];
    EXPECT_EQ(audio["type"], "input_audio");
    ASSERT_EQ(audio["input_audio"].size(), 2u);
    EXPECT_EQ(audio["input_audio"]["format"], "wav");
    const std::string data = audio["input_audio"]["data"];
    EXPECT_EQ(base64::decode(data), wav);
    EXPECT_EQ(data, base64::encode(wav));
    const json& text = msg["content"][1];
    EXPECT_EQ(text["type"], "text");
    EXPECT_EQ(text["text"], "请转写这段语音");
}

TEST(ChatRequest, PromptListsTermsRightAfterTheColonAndRereadsTheFile) {
    TempDir dir;
    const std::string terms = dir.path + "/terms.txt";
    std::ofstream(terms) << "# comment\nA,B\n";
    auto promptOf = [&] {
        return json::parse(llamaRequest("RIFF", seconds(15), terms)
                               .body)["messages"][0]["content"][1]["text"]
            .get<std::string>();
    };
    EXPECT_EQ(promptOf(), "请转写这段语音。可能出现的术语:A B");

    std::ofstream(terms) << "引号\"和\\反斜杠\n";
    EXPECT_EQ(promptOf(), "请转写这段语音。可能出现的术语:引号\"和\\反斜杠");
}

TEST(PlainRequest, PostsTheRecordingByteForByteToTheRootWithoutHeaders) {
    std::string wav = someWav(1001);
    wav[20] = '\0';
    HttpRequest r = plainRequest(wav, seconds(30));
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.url, "http://127.0.0.1:8765/");
    EXPECT_TRUE(r.headers.empty());
    EXPECT_EQ(r.body, wav);
    EXPECT_EQ(r.timeout, seconds(30));
}

struct ParseCase {
    const char* name;
    std::optional<std::string> body;
    std::string want;
    bool plain = false;
};

class Answer : public ::testing::TestWithParam<ParseCase> {};

TEST_P(Answer, Parses) {
    const auto& c = GetParam();
    EXPECT_EQ(c.plain ? parsePlainText(c.body) : parseLlamaText(c.body), c.want);
}

std::string content(const std::string& c) {
    return testing::chatAnswer(c);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Answer,
    ::testing::Values(
        ParseCase{"marker", content("language Chinese<asr_text>  你好\n"), "你好"},
        ParseCase{"markerTwice", content("x<asr_text>甲<asr_text>乙"), "甲<asr_text>乙"},
        ParseCase{"noMarker", content("  你好  "), "你好"},
        ParseCase{"unicodeSpaces", content("\u3000\u00a0你 好\u2029\t"), "你 好"},
        ParseCase{"markerOnly", content("<asr_text>"), ""},
        ParseCase{"caseSensitiveMarker", content("<ASR_TEXT>hi"), "<ASR_TEXT>hi"},
        ParseCase{"noBody", std::nullopt, ""}, ParseCase{"emptyBody", std::string(), ""},
        ParseCase{"notJson", std::string("<html>502</html>"), ""},
        ParseCase{"truncated", std::string(R"({"choices":[{"message":{"content":"你)"), ""},
        ParseCase{"topArray", std::string(R"([{"choices":[]}])"), ""},
        ParseCase{"choicesEmpty", std::string(R"({"choices":[]})"), ""},
        ParseCase{"choicesNotArray", std::string(R"({"choices":{}})"), ""},
        ParseCase{"choiceNotObject", std::string(R"({"choices":["x"]})"), ""},
        ParseCase{"noMessage", std::string(R"({"choices":[{"text":"x"}]})"), ""},
        ParseCase{
            "contentArray",
            std::string(R"({"choices":[{"message":{"content":[{"type":"text","text":"x"}]}}]})"),
            ""},
        ParseCase{"contentNull", std::string(R"({"choices":[{"message":{"content":null}}]})"), ""},
        ParseCase{"errorObject", std::string(R"({"error":{"message":"boom"}})"), ""},
        // The plain form's text is used as received: no trimming, no marker.
        ParseCase{"plainAsReceived", std::string(R"({"text":"  你好 "})"), "  你好 ", true},
        ParseCase{"plainMarkerKept", std::string(R"({"text":"<asr_text>x"})"), "<asr_text>x", true},
        ParseCase{"plainNotAString", std::string(R"({"text":5})"), "", true},
        ParseCase{"plainTopArray", std::string(R"(["text"])"), "", true},
        ParseCase{"plainTruncated", std::string(R"({"text":"x")"), "", true},
        ParseCase{"plainNoBody", std::nullopt, "", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AnswerBody, OnlyASuccessfulResponseOfSaneSizeCarriesABody) {
    using testing::ok;
    EXPECT_EQ(answerBody(ok("b")), "b");
    EXPECT_EQ(answerBody(ok("b", 500)), std::nullopt);
    HttpResponse timedOut = ok("b");
    timedOut.error = HttpError{HttpError::Kind::timedOut, "请求超时"};
    EXPECT_EQ(answerBody(timedOut), std::nullopt);
    EXPECT_EQ(answerBody(HttpResponse{}), std::nullopt);

    // Several megabytes parse, but are never used.
    const std::string big(4 << 20, 'a');
    EXPECT_EQ(parseLlamaText(content("<asr_text>" + big)), big);
    EXPECT_EQ(answerBody(ok(content("<asr_text>" + big))), std::nullopt);
    const std::string fits(MAX_ANSWER_BYTES - 200, 'a');
    EXPECT_EQ(parseLlamaText(answerBody(ok(content(fits)))), fits);
}

}  // namespace
}  // namespace zavren
