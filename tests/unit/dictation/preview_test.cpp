#include "dictation/preview.h"

#include <gtest/gtest.h>

#include "harness.h"

namespace zavren {
namespace {

constexpr float LOUD = -20.0f;
constexpr float QUIET = -60.0f;

// A pipeline reading what the fake recorder writes; each answer is the test's to give.
class Preview : public ::testing::Test {
  protected:
    test::TempDir dir;
    AppState st;
    fakes::FakeDispatcher dispatcher;
    fakes::FakeHttpClient http{dispatcher};
    fakes::FakeAudioRecorderFactory recorders;
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
    // Bytes of speech, then `quiet` quiet ticks.
    void phrase(std::size_t bytes, int quiet = 10, char value = 'a') {
        recorders.feed(std::string(bytes, value));
        fed += std::string(bytes, value);
        preview->onLevel(LOUD);
        for (int i = 0; i < quiet; ++i) preview->onLevel(QUIET);
    }
    std::string segment(std::size_t i) const {
        return testing::audioOf(http.request(i)).substr(44);
    }
    void answer(std::size_t i, const std::string& text) {
        http.complete(i, testing::ok(testing::chatAnswer(text)));
        dispatcher.runUntilIdle();
    }
};

TEST_F(Preview, SendsExactlyTheWholeSamplesBetweenCuts) {
    recorders.extraChunks = {{"LIST", "abcd"}, {"junk", "odd"}};  // the data chunk comes later
    begin();
    phrase(12798, 10, 'a');  // too short: waits for the next cut
    EXPECT_EQ(http.count(), 0u);
    phrase(3, 9, 'b');  // nine quiet ticks do not cut
    EXPECT_EQ(http.count(), 0u);
    preview->onLevel(QUIET);
    ASSERT_EQ(http.count(), 1u);
    EXPECT_EQ(segment(0), fed.substr(0, 12800));  // the odd byte waits
    answer(0, "");
    recorders.feed(std::string(13001, 'c'));
    fed += std::string(13001, 'c');
    preview->onLevel(QUIET);  // the pause that cut does not count again
    EXPECT_EQ(http.count(), 1u);
    phrase(0, 10);
    ASSERT_EQ(http.count(), 2u);
    EXPECT_EQ(segment(1), fed.substr(12800));
    EXPECT_EQ(http.request(1).timeout, PREVIEW_TIMEOUT);
}

// Speech of an earlier recording must not make the new one's silence a phrase.
TEST_F(Preview, NothingIsCutBeforeSpeechOrBeforeTheHeaderShowsItsDataChunk) {
    begin();
    phrase(20000, 0);
    begin();
    recorders.feed(std::string(20000, 'x'));
    for (int i = 0; i < 10; ++i) preview->onLevel(QUIET);
    recorders.headerOverride = std::string("RIFF\0\0\0\0WAVEfmt ", 16);
    begin();
    phrase(20000);
    EXPECT_EQ(http.count(), 0u);
}

TEST_F(Preview, OneRequestAtATimeAndPolishedAnswersAppendWithOneSpace) {
    begin();
    phrase(13000);
    phrase(13000);
    phrase(13000);
    ASSERT_EQ(http.count(), 1u);
    answer(0, "<asr_text>甲");
    ASSERT_EQ(http.count(), 2u);
    http.complete(1, testing::ok("", 503));  // a failed piece lets the next one go
    dispatcher.runUntilIdle();
    answer(2, "乙");
    EXPECT_EQ(st.preview(), "甲。 乙。");
}

// A late answer must neither show nor unlock the pipeline of a newer recording.
TEST_F(Preview, EndDropsWhatIsInFlightAndBeginStartsClean) {
    begin();
    phrase(13000);
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
    phrase(13000, 10, 'n');
    ASSERT_EQ(http.count(), 3u);  // the piece queued before end() is gone
    EXPECT_EQ(segment(2), fed);
}

}  // namespace
}  // namespace zavren
