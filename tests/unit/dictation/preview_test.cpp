#include <gtest/gtest.h>

#include "harness.h"

namespace zavren {
namespace {

using fakes::FakeAudioRecorderFactory;
using testing::audioOf;
using testing::Harness;

constexpr float LOUD = -20.0f;
constexpr float QUIET = -60.0f;

class Preview : public ::testing::Test {
  protected:
    Harness h;
    float power = QUIET;
    std::string fed;  // every sample byte given to the current recording

    void SetUp() override {
        h.recorders.powerFn = [this] { return power; };
    }
    void begin() {
        h.press();
        fed.clear();
    }
    void feed(std::size_t bytes, char value = '\x11') {
        const std::string b(bytes, value);
        h.recorders.feed(b);
        fed += b;
    }
    void ticks(float p, int n) {
        power = p;
        h.tick(n);
    }
    // Speech, then a pause long enough to cut.
    void phrase(std::size_t bytes) {
        feed(bytes);
        ticks(LOUD, 1);
        ticks(QUIET, 10);
    }
    std::string segment(std::size_t i) const {
        const std::string w = audioOf(h.http.request(i));
        EXPECT_EQ(w, wrapWav(w.substr(44)));
        EXPECT_EQ(h.http.request(i).timeout, seconds(15));
        return w.substr(44);
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
    std::int64_t segStart;
    std::vector<FakeAudioRecorderFactory::Chunk> extraChunks = {};
    std::string header = {};
};

class Cuts : public Preview, public ::testing::WithParamInterface<CutCase> {};

// Every request is answered (empty) as soon as it goes out, so each cut is sent.
TEST_P(Cuts, SendExactlyTheAudioBetweenCuts) {
    const CutCase& c = GetParam();
    h.recorders.extraChunks = c.extraChunks;
    h.recorders.headerOverride = c.header;
    begin();
    std::size_t answered = 0;
    for (std::size_t k = 0; k < c.steps.size(); ++k) {
        // A distinct byte per step, so a segment taken from the wrong offset shows.
        feed(c.steps[k].bytes, static_cast<char>('a' + k));
        ticks(c.steps[k].power, c.steps[k].ticks);
        ASSERT_EQ(h.chatRequests(), c.steps[k].requestsAfter) << "after step " << k;
        while (answered < h.http.count()) h.answer(answered++, "");
    }
    ASSERT_EQ(h.chatRequests(), c.segments.size());
    for (std::size_t i = 0; i < c.segments.size(); ++i)
        EXPECT_EQ(segment(i), fed.substr(c.segments[i].first, c.segments[i].second)) << i;
    EXPECT_EQ(h.ctl->segStartByte(), c.segStart);
}

INSTANTIATE_TEST_SUITE_P(
    Segmentation, Cuts,
    ::testing::Values(
        CutCase{"pauseCutsAtTheTenthQuietTick",
                {{20000, LOUD, 5, 0}, {0, QUIET, 9, 0}, {0, QUIET, 1, 1}},
                {{0, 20000}},
                44 + 20000},
        CutCase{"continuousSpeechAfter100Ticks",
                {{40000, LOUD, 100, 0}, {0, LOUD, 1, 1}},
                {{0, 40000}},
                44 + 40000},
        CutCase{"silenceBeforeSpeechNeverCutsAndOpensTheSegment",
                {{50000, QUIET, 2000, 0}, {13000, LOUD, 1, 0}, {0, QUIET, 10, 1}},
                {{0, 63000}},
                44 + 63000},
        CutCase{"under12800BytesWaitForTheNextCut",
                {{12798, LOUD, 1, 0}, {0, QUIET, 10, 0}, {2, LOUD, 1, 0}, {0, QUIET, 10, 1}},
                {{0, 12800}},
                44 + 12800},
        CutCase{"anOddByteWaitsForTheNextSegment",
                {{12801, LOUD, 1, 0}, {0, QUIET, 10, 1}, {13001, LOUD, 1, 1}, {0, QUIET, 10, 2}},
                {{0, 12800}, {12800, 13002}},
                44 + 25802},
        CutCase{"extraChunksBeforeDataIncludingThePadByte",
                {{14000, LOUD, 1, 0}, {0, QUIET, 10, 1}},
                {{0, 14000}},
                44 + 12 + 12 + 14000,
                {{"LIST", "abcd"}, {"junk", "odd"}}},
        CutCase{"noCutUntilTheHeaderShowsItsDataChunk",
                {{20000, LOUD, 1, 0}, {0, QUIET, 10, 0}},
                {},
                -1,
                {},
                std::string("RIFF\0\0\0\0WAVEfmt ", 16)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Preview, OneRequestAtATimeAndAnswersAppendWithOneSpace) {
    begin();
    phrase(13000);
    phrase(13000);
    phrase(13000);
    ASSERT_EQ(h.chatRequests(), 1u);
    EXPECT_EQ(h.ctl->previewQueueSize(), 2u);
    h.answer(0, "<asr_text>甲");
    EXPECT_EQ(h.st.preview(), "甲");
    ASSERT_EQ(h.chatRequests(), 2u);  // the next one goes only now
    h.answer(1, "<asr_text>  ");
    EXPECT_EQ(h.st.preview(), "甲");  // an empty answer adds nothing, not even a space
    ASSERT_EQ(h.chatRequests(), 3u);
    h.answer(2, "乙");
    EXPECT_EQ(h.st.preview(), "甲 乙");
    EXPECT_FALSE(h.ctl->previewInFlight());
    EXPECT_EQ(segment(1), fed.substr(13000, 13000));
}

TEST_F(Preview, AFailedPreviewSendsTheNextSegment) {
    begin();
    phrase(13000);
    phrase(13000);
    phrase(13000);
    h.http.complete(0, testing::ok(testing::chatAnswer("错误"), 503));
    h.dispatcher.runUntilIdle();
    EXPECT_EQ(h.st.preview(), "");
    EXPECT_EQ(h.chatRequests(), 2u);
    // An unanswered one gives up after 15 s and the queue moves on.
    h.dispatcher.advance(14.99);
    EXPECT_EQ(h.chatRequests(), 2u);
    h.dispatcher.advance(0.01);
    EXPECT_EQ(h.chatRequests(), 3u);
}

TEST_F(Preview, PreviewAndFinalAnswersArePolishedOnArrival) {
    h.polish = [](std::string s) { return s + "。"; };
    begin();
    phrase(13000);
    h.answer(0, "甲");
    EXPECT_EQ(h.st.preview(), "甲。");
    h.release();
    h.answerLast("<asr_text>三点");
    EXPECT_EQ(h.pasteboard.text(), "三点。");
}

// The previous dictation's answer must not unlock the new one's pipeline either.
TEST_F(Preview, AnAnswerFromBeforeACancelAndRestartChangesNothing) {
    begin();
    phrase(13000);
    h.press();  // cancel + start
    fed.clear();
    phrase(13000);
    phrase(13000);
    EXPECT_EQ(h.chatRequests(), 2u);
    EXPECT_TRUE(h.ctl->previewInFlight());
    // A late answer to the old request, as if it had been on the wire when cancelled.
    h.http.call(0).done(testing::ok(testing::chatAnswer("旧的")));
    h.dispatcher.runUntilIdle();
    EXPECT_EQ(h.st.preview(), "");
    EXPECT_TRUE(h.ctl->previewInFlight());
    EXPECT_EQ(h.chatRequests(), 2u);
    h.answer(1, "新的");
    EXPECT_EQ(h.st.preview(), "新的");
    EXPECT_EQ(h.chatRequests(), 3u);
}

TEST_F(Preview, ReleaseDropsLateAnswersKeepsThePreviewAndFinishClearsIt) {
    begin();
    phrase(13000);
    phrase(13000);
    h.answer(0, "甲");
    h.release();
    EXPECT_TRUE(h.http.call(1).cancelled);
    EXPECT_EQ(h.chatRequests(), 3u);  // two previews and the final request
    h.answer(1, "迟到");              // dropped: the dictation has been released
    EXPECT_EQ(h.st.preview(), "甲");
    EXPECT_FALSE(indicatorModel(h.st).showPreview);
    h.answer(2, "<asr_text>甲");
    EXPECT_EQ(h.st.preview(), "");

    begin();
    phrase(13000);
    h.answerLast("乙");
    h.release();
    begin();  // while the last one is still transcribing
    EXPECT_EQ(h.st.preview(), "");
    EXPECT_EQ(h.ctl->segStartByte(), -1);
    phrase(13000);
    EXPECT_EQ(segment(h.http.count() - 1), fed);
}

}  // namespace
}  // namespace zavren
