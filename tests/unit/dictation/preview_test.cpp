#include <gtest/gtest.h>

#include "harness.h"

namespace zavren {
namespace {

using fakes::FakeAudioRecorderFactory;
using testing::audioOf;
using testing::chatAnswer;
using testing::Harness;
using testing::ok;

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
        return w.substr(44);
    }
    void answer(std::size_t i, const std::string& content) {
        h.http.complete(i, ok(chatAnswer(content)));
        h.dispatcher.runUntilIdle();
    }
};

TEST_F(Preview, APauseAfterSpeechSendsTheAudioSoFarAsOneSegment) {
    begin();
    feed(20000);
    ticks(LOUD, 5);
    ticks(QUIET, 9);
    EXPECT_EQ(h.chatRequests(), 0u);
    ticks(QUIET, 1);
    ASSERT_EQ(h.chatRequests(), 1u);
    EXPECT_EQ(segment(0), fed);
    EXPECT_EQ(audioOf(h.http.request(0)), wrapWav(fed));
    EXPECT_EQ(h.http.request(0).timeout, seconds(15));
    EXPECT_EQ(h.ctl->segStartByte(), 44 + 20000);
}

TEST_F(Preview, ContinuousSpeechIsCutAfter100Ticks) {
    begin();
    feed(40000);
    ticks(LOUD, 100);
    EXPECT_EQ(h.chatRequests(), 0u);
    ticks(LOUD, 1);
    ASSERT_EQ(h.chatRequests(), 1u);
    EXPECT_EQ(segment(0), fed);
}

TEST_F(Preview, SilenceBeforeSpeechNeverCutsAndOpensTheFirstSegment) {
    begin();
    feed(50000, '\x01');
    ticks(QUIET, 2000);
    EXPECT_EQ(h.chatRequests(), 0u);
    phrase(13000);
    ASSERT_EQ(h.chatRequests(), 1u);
    EXPECT_EQ(segment(0), fed);
    EXPECT_EQ(segment(0).size(), 63000u);
}

TEST_F(Preview, SegmentsUnder12800BytesWaitForTheNextCut) {
    begin();
    phrase(12798);
    EXPECT_EQ(h.chatRequests(), 0u);
    EXPECT_EQ(h.ctl->segStartByte(), 44);  // the bytes stay for the next segment
    phrase(2);
    ASSERT_EQ(h.chatRequests(), 1u);
    EXPECT_EQ(segment(0).size(), 12800u);
    EXPECT_EQ(segment(0), fed);
}

TEST_F(Preview, AnOddByteWaitsForTheNextSegment) {
    begin();
    phrase(12801);
    ASSERT_EQ(h.chatRequests(), 1u);
    EXPECT_EQ(segment(0), fed.substr(0, 12800));
    answer(0, "");
    feed(13001, '\x22');
    ticks(LOUD, 1);
    ticks(QUIET, 10);
    ASSERT_EQ(h.chatRequests(), 2u);
    EXPECT_EQ(segment(1), fed.substr(12800));
    EXPECT_EQ(segment(1).size(), 13002u);
}

TEST_F(Preview, ExtraChunksBeforeDataAreSkippedIncludingThePadByte) {
    h.recorders.extraChunks = {{"LIST", "abcd"}, {"junk", "odd"}};
    begin();
    phrase(14000);
    ASSERT_EQ(h.chatRequests(), 1u);
    EXPECT_EQ(segment(0), fed);
    EXPECT_EQ(h.ctl->segStartByte(), 44 + 12 + 12 + 14000);
}

TEST_F(Preview, NoCutUntilTheHeaderShowsItsDataChunk) {
    h.recorders.headerOverride = std::string("RIFF\0\0\0\0WAVEfmt ", 16);
    begin();
    phrase(20000);
    EXPECT_EQ(h.chatRequests(), 0u);
    EXPECT_EQ(h.ctl->segStartByte(), -1);
}

TEST_F(Preview, OneRequestAtATimeAndAnswersAppendWithOneSpace) {
    begin();
    phrase(13000);
    phrase(13000);
    phrase(13000);
    ASSERT_EQ(h.chatRequests(), 1u);
    EXPECT_EQ(h.ctl->previewQueueSize(), 2u);
    answer(0, "<asr_text>甲");
    EXPECT_EQ(h.st.preview(), "甲");
    ASSERT_EQ(h.chatRequests(), 2u);  // the next one goes only now
    answer(1, "<asr_text>  ");
    EXPECT_EQ(h.st.preview(), "甲");  // an empty answer adds nothing, not even a space
    ASSERT_EQ(h.chatRequests(), 3u);
    answer(2, "乙");
    EXPECT_EQ(h.st.preview(), "甲 乙");
    EXPECT_FALSE(h.ctl->previewInFlight());
    EXPECT_EQ(segment(1), fed.substr(13000, 13000));
}

TEST_F(Preview, AFailedPreviewSendsTheNextSegment) {
    begin();
    phrase(13000);
    phrase(13000);
    phrase(13000);
    HttpResponse r = ok(chatAnswer("错误"));
    r.status = 503;
    h.http.complete(0, r);
    h.dispatcher.runUntilIdle();
    EXPECT_EQ(h.st.preview(), "");
    EXPECT_EQ(h.chatRequests(), 2u);
    // An unanswered one gives up after 15 s and the queue moves on.
    h.dispatcher.advance(14.99);
    EXPECT_EQ(h.chatRequests(), 2u);
    h.dispatcher.advance(0.01);
    EXPECT_EQ(h.chatRequests(), 3u);
}

TEST_F(Preview, PreviewAnswersArePolishedOnArrival) {
    h.polish = [](std::string s) { return s + "。"; };
    begin();
    phrase(13000);
    answer(0, "甲");
    EXPECT_EQ(h.st.preview(), "甲。");
}

TEST_F(Preview, AnAnswerAfterReleaseIsDropped) {
    begin();
    phrase(13000);
    h.release();
    EXPECT_TRUE(h.http.call(0).cancelled);
    EXPECT_EQ(h.chatRequests(), 2u);  // the preview and the final request
    h.http.complete(0, ok(chatAnswer("迟到")));
    h.dispatcher.runUntilIdle();
    EXPECT_EQ(h.st.preview(), "");
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
    h.http.call(0).done(ok(chatAnswer("旧的")));
    h.dispatcher.runUntilIdle();
    EXPECT_EQ(h.st.preview(), "");
    EXPECT_TRUE(h.ctl->previewInFlight());
    EXPECT_EQ(h.chatRequests(), 2u);
    answer(1, "新的");
    EXPECT_EQ(h.st.preview(), "新的");
    EXPECT_EQ(h.chatRequests(), 3u);
}

TEST_F(Preview, PythonKindNeverPreviews) {
    h.kind = EngineKind::python;
    begin();
    for (int i = 0; i < 5; ++i) phrase(20000);
    feed(100000);
    ticks(LOUD, 300);
    EXPECT_EQ(h.http.count(), 0u);
    EXPECT_EQ(h.st.preview(), "");
    h.release();
    ASSERT_EQ(h.http.count(), 1u);
    EXPECT_EQ(h.http.request(0).url, SERVER);
}

TEST_F(Preview, ReleaseKeepsThePreviewAndFinishClearsIt) {
    begin();
    phrase(13000);
    answer(0, "甲");
    h.release();
    EXPECT_EQ(h.st.preview(), "甲");
    EXPECT_FALSE(indicatorModel(h.st).showPreview);
    answer(1, "<asr_text>甲");
    EXPECT_EQ(h.st.preview(), "");
}

TEST_F(Preview, ANewDictationStartsWithAnEmptyPreviewAndFindsTheHeaderAgain) {
    begin();
    phrase(13000);
    answer(0, "甲");
    h.release();
    h.press();
    EXPECT_EQ(h.st.preview(), "");
    EXPECT_EQ(h.ctl->segStartByte(), -1);
    fed.clear();
    phrase(13000);
    EXPECT_EQ(segment(h.http.count() - 1), fed);
}

}  // namespace
}  // namespace zavren
