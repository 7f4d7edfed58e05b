#include "dictation/preview.h"

#include <gtest/gtest.h>

#include "dictation/wav.h"
#include "harness.h"

namespace zavren {
namespace {

using fakes::FakeAudioRecorderFactory;

constexpr float LOUD = -20.0f;
constexpr float QUIET = -60.0f;

// A pipeline reading a recording the fake recorder writes; each answer is the
// test's to give.
class Preview : public ::testing::Test {
  protected:
    test::TempDir dir;
    AppState st;
    fakes::FakeDispatcher dispatcher;
    fakes::FakeHttpClient http{dispatcher};
    FakeAudioRecorderFactory recorders;
    std::unique_ptr<AudioRecorder> recorder;
    std::string fed;  // every sample byte given to the recording
    std::shared_ptr<PreviewPipeline> preview =
        PreviewPipeline::create({st, dispatcher, http, dir / "zavren.wav", dir / "terms.txt",
                                 [](std::string s) { return s + "。"; }, nullptr});

    void begin() {
        recorder = recorders.create(dir / "zavren.wav");
        recorder->record();
        fed.clear();
        preview->begin();
    }
    void feed(std::size_t bytes, char value = '\x11') {
        recorders.feed(std::string(bytes, value));
        fed += std::string(bytes, value);
    }
    void ticks(float power, int n) {
        for (int i = 0; i < n; ++i) preview->onLevel(power);
    }
    void phrase(std::size_t bytes) {
        feed(bytes);
        ticks(LOUD, 1);
        ticks(QUIET, 10);
    }
    std::string segment(std::size_t i) const {
        const std::string w = testing::audioOf(http.request(i));
        EXPECT_EQ(w, wrapWav(w.substr(44)));
        return w.substr(44);
    }
    void answer(std::size_t i, const std::string& text) {
        http.complete(i, testing::ok(testing::chatAnswer(text)));
        dispatcher.runUntilIdle();
    }
};

struct Step {
    std::size_t bytes;
    float power;
    int ticks;
    std::size_t requestsAfter;
};

struct CutCase {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::pair<std::size_t, std::size_t>> segments;  // offset, length in the fed bytes
    std::vector<FakeAudioRecorderFactory::Chunk> extraChunks = {};
    std::string header = {};
};

void PrintTo(const CutCase& c, std::ostream* os) {
    *os << c.name;
}

class Cuts : public Preview, public ::testing::WithParamInterface<CutCase> {};

// Every request is answered as soon as it goes out, so each cut is sent.
TEST_P(Cuts, SendExactlyTheAudioBetweenCuts) {
    const CutCase& c = GetParam();
    recorders.extraChunks = c.extraChunks;
    recorders.headerOverride = c.header;
    begin();
    std::size_t answered = 0;
    for (std::size_t k = 0; k < c.steps.size(); ++k) {
        // A distinct byte per step, so a segment taken from the wrong offset shows.
        feed(c.steps[k].bytes, static_cast<char>('a' + k));
        ticks(c.steps[k].power, c.steps[k].ticks);
        ASSERT_EQ(http.count(), c.steps[k].requestsAfter) << "after step " << k;
        while (answered < http.count()) answer(answered++, "");
    }
    for (std::size_t i = 0; i < c.segments.size(); ++i)
        EXPECT_EQ(segment(i), fed.substr(c.segments[i].first, c.segments[i].second)) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Segmentation, Cuts,
    ::testing::Values(
        CutCase{"pause", {{20000, LOUD, 5, 0}, {0, QUIET, 9, 0}, {0, QUIET, 1, 1}}, {{0, 20000}}},
        CutCase{"silenceOpensTheSegment",
                {{50000, QUIET, 2000, 0}, {13000, LOUD, 1, 0}, {0, QUIET, 10, 1}},
                {{0, 63000}}},
        CutCase{"shortPiecesWait",
                {{12798, LOUD, 1, 0}, {0, QUIET, 10, 0}, {2, LOUD, 1, 0}, {0, QUIET, 10, 1}},
                {{0, 12800}}},
        CutCase{"oddByteWaits",
                {{12801, LOUD, 1, 0}, {0, QUIET, 10, 1}, {13001, LOUD, 1, 1}, {0, QUIET, 10, 2}},
                {{0, 12800}, {12800, 13002}}},
        CutCase{"extraChunksAndPadByte",
                {{14000, LOUD, 1, 0}, {0, QUIET, 10, 1}},
                {{0, 14000}},
                {{"LIST", "abcd"}, {"junk", "odd"}}},
        CutCase{"headerWithoutData",
                {{20000, LOUD, 1, 0}, {0, QUIET, 10, 0}},
                {},
                {},
                std::string("RIFF\0\0\0\0WAVEfmt ", 16)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Preview, OneRequestAtATimeAndPolishedAnswersAppendWithOneSpace) {
    begin();
    phrase(13000);
    phrase(13000);
    phrase(13000);
    ASSERT_EQ(http.count(), 1u);
    answer(0, "<asr_text>甲");
    ASSERT_EQ(http.count(), 2u);
    EXPECT_EQ(http.request(1).timeout, PREVIEW_TIMEOUT);
    http.complete(1, testing::ok("", 503));  // a failed piece lets the next one go
    dispatcher.runUntilIdle();
    answer(2, "乙");
    EXPECT_EQ(st.preview(), "甲。 乙。");
    EXPECT_EQ(segment(1), fed.substr(13000, 13000));
}

// A late answer must neither show nor unlock the pipeline of a newer recording.
TEST_F(Preview, EndDropsWhatIsInFlightAndBeginStartsClean) {
    begin();
    phrase(13000);
    phrase(13000);
    answer(0, "甲");
    preview->end();
    EXPECT_TRUE(http.call(1).cancelled);
    http.call(1).done(testing::ok(testing::chatAnswer("迟到")));
    dispatcher.runUntilIdle();
    EXPECT_EQ(st.preview(), "甲。");

    begin();
    EXPECT_EQ(st.preview(), "");
    phrase(13000);
    EXPECT_EQ(http.count(), 3u);
    EXPECT_EQ(segment(2), fed);
}

}  // namespace
}  // namespace zavren
