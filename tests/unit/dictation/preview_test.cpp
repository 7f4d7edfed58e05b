#include "dictation/preview.h"

#include <gtest/gtest.h>

#include "harness.h"

namespace zavren {
namespace {

// A pipeline reading what the fake recorder writes; each answer is the test's to give.
class Preview : public ::testing::Test, protected test::Rig {
  protected:
    std::unique_ptr<AudioRecorder> recorder;
    std::string fed;  // every sample byte given to the recording
    std::shared_ptr<PreviewPipeline> preview =
        PreviewPipeline::create({st, dispatcher, http, wav(), dir / "terms.txt",
                                 [](std::string s) { return s + "。"; }, nullptr});

    void begin() {
        recorder = recorders.create(wav());
        recorder->record();
        fed.clear();
        preview->begin();
    }
    void quiet(int ticks) {
        for (int i = 0; i < ticks; ++i) preview->onLevel(-60.0f);
    }
    void feed(std::size_t bytes, char value) {
        recorders.feed(std::string(bytes, value));
        fed += std::string(bytes, value);
    }
    // Bytes of speech, then `ticks` quiet ticks.
    void phrase(std::size_t bytes, int ticks = 10, char value = 'a') {
        feed(bytes, value);
        preview->onLevel(-20.0f);
        quiet(ticks);
    }
};

TEST_F(Preview, SendsExactlyTheWholeSamplesBetweenCuts) {
    recorders.extraChunks = {{"LIST", "abcd"}, {"junk", "odd"}};  // the data chunk comes later
    begin();
    phrase(12798);      // too short: waits for the next cut
    phrase(3, 9, 'b');  // nine quiet ticks do not cut
    EXPECT_EQ(http.count(), 0u);
    quiet(1);
    ASSERT_EQ(http.count(), 1u);
    EXPECT_EQ(test::samplesOf(http.request(0)), fed.substr(0, 12800));  // the odd byte waits
    answer(0, "");
    feed(13001, 'c');
    quiet(1);  // the pause that cut does not count again
    EXPECT_EQ(http.count(), 1u);
    phrase(0);
    ASSERT_EQ(http.count(), 2u);
    EXPECT_EQ(test::samplesOf(http.request(1)), fed.substr(12800));
    EXPECT_EQ(http.request(1).timeout, PREVIEW_TIMEOUT);
}

// Speech of an earlier recording must not make the new one's silence a phrase.
TEST_F(Preview, NothingIsCutBeforeSpeechOrBeforeTheHeaderShowsItsDataChunk) {
    begin();
    phrase(20000, 0);
    begin();
    feed(20000, 'x');
    quiet(10);
    recorders.headerOverride = std::string("RIFF\0\0\0\0WAVEfmt ", 16);
    begin();
    phrase(20000);
    EXPECT_EQ(http.count(), 0u);
}

// A late answer must neither show nor unlock the pipeline of a newer recording.
TEST_F(Preview, OneRequestAtATimeAnswersAppendAndEndDropsWhatIsInFlight) {
    begin();
    for (int i = 0; i < 5; ++i) phrase(13000);
    ASSERT_EQ(http.count(), 1u);
    answer(0, "<asr_text>甲");
    ASSERT_EQ(http.count(), 2u);
    answer(1, "乙", 503);  // a failed piece lets the next one go
    answer(2, "丙");
    EXPECT_EQ(st.preview(), "甲。 丙。");
    preview->end();
    EXPECT_TRUE(http.call(3).cancelled);
    http.call(3).done(test::ok(test::chatAnswer("迟到")));
    dispatcher.runUntilIdle();
    EXPECT_EQ(st.preview(), "甲。 丙。");
    begin();
    EXPECT_EQ(st.preview(), "");
    phrase(13000, 10, 'n');
    ASSERT_EQ(http.count(), 5u);  // the piece queued before end() is gone
    EXPECT_EQ(test::samplesOf(http.request(4)), fed);
}

}  // namespace
}  // namespace zavren
