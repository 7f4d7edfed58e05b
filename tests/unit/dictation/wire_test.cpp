#include "dictation/wire.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "dictation/wav.h"
#include "harness.h"

namespace zavren {
namespace {

using nlohmann::json;
using namespace std::string_literals;
using test::chatAnswer;
using test::ok;

std::string le32(std::uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
    return s;
}

std::string chunk(const std::string& id, const std::string& bytes) {
    return id + le32(static_cast<std::uint32_t>(bytes.size())) + bytes +
           std::string(bytes.size() % 2, '\0');
}

TEST(FindDataOffset, WalksChunksIncludingPadBytesWithinTheFirst16KiB) {
    const std::string riff = "RIFF" + le32(0) + "WAVE" + chunk("fmt ", std::string(16, '\x01'));
    const std::string data = "data" + le32(0);
    // "data" must begin at most 8 bytes before the end of the window.
    auto withDataAt = [&](std::size_t at) {
        return riff + chunk("pad ", std::string(at - 44, 'x')) + data + std::string(64, '\0');
    };
    struct Case {
        const char* name;
        std::string head;
        std::optional<std::int64_t> want;
    } cases[] = {
        {"plain44", riff + data, 44},
        {"extraEven", riff + chunk("LIST", "abcd") + data, 56},
        {"extraOdd", riff + chunk("junk", "abc") + data, 56},
        {"dataSizeNotYetWritten", riff + "data", std::nullopt},
        {"notRiff", "RIFX" + riff.substr(4) + data, std::nullopt},
        {"notWave", riff.substr(0, 8) + "AVI " + riff.substr(12) + data, std::nullopt},
        {"headerOnly", "RIFF" + le32(0) + "WAVE" + data, 20},
        {"hugeChunk", riff.substr(0, 12) + "junk" + le32(0xFFFFFFFF) + data, std::nullopt},
        {"lastPlaceInTheWindow", withDataAt(16376), 16384},
        {"pastTheWindow", withDataAt(16378), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(findDataOffset(c.head), c.want) << c.name;
}

TEST(WrapWav, Writes44ByteHeaderAroundTheSamples) {
    const std::string pcm(32000, '\x7f');
    EXPECT_EQ(wrapWav(pcm), "RIFF" + le32(32036) + "WAVEfmt " + le32(16) +
                                std::string("\x01\x00\x01\x00", 4) + le32(16000) + le32(32000) +
                                std::string("\x02\x00\x10\x00", 4) + "data" + le32(32000) + pcm);
}

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
    EXPECT_NE(r.body.find("引号"), std::string::npos)
        << "UTF-8 as is: half the bytes of \\u escapes";

    // The plain engine gets the recording byte for byte, without headers.
    r = transcriptionRequest(EngineKind::python, "RIFF\0x"s, FINAL_TIMEOUT, "");
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
