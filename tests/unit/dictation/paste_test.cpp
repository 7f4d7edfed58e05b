#include "dictation/paste.h"

#include <gtest/gtest.h>

#include "fakes/fake_dispatcher.h"
#include "fakes/fake_ports.h"

namespace zavren {
namespace {

using Formats = Pasteboard::Formats;

class Paste : public ::testing::Test {
  protected:
    fakes::FakeDispatcher dispatcher;
    fakes::FakePasteboard board;
    fakes::FakeKeySynthesizer keys;
    fakes::FakeTrust trust;
    fakes::FakeLog log;
    std::shared_ptr<PasteSequence> paster =
        PasteSequence::create(dispatcher, board, keys, trust, log);
    const Formats user{{PASTEBOARD_TEXT_TYPE, "hunter2"},
                       {"image/png", std::string("\x89PNG\0\x01", 6)},
                       {"text/html", "<b>x</b>"}};
    const Formats transcript{{PASTEBOARD_TEXT_TYPE, "你好"}};

    void SetUp() override { board.contents = user; }
};

TEST_F(Paste, EveryFormatComesBackOnceTheTargetFetchedTheTranscriptOrAfterTheFallback) {
    keys.onPaste = [this] {
        EXPECT_EQ(board.contents, transcript);
        EXPECT_TRUE(board.transcript);
    };
    EXPECT_EQ(paster->paste("你好"), Paster::Outcome::typed);
    dispatcher.advance(PasteSequence::RESTORE_FALLBACK - 0.5);  // a slow target
    board.fetched();
    dispatcher.advance(PasteSequence::FETCH_GRACE / 2);
    board.fetched();  // a reader that keeps asking does not push the restore back
    dispatcher.advance(PasteSequence::FETCH_GRACE / 2 - 0.001);
    EXPECT_EQ(board.contents, transcript);
    dispatcher.advance(0.001);
    EXPECT_EQ(board.contents, user);
    EXPECT_FALSE(board.transcript);
    dispatcher.advance(10);
    board.fetched();
    dispatcher.advance(10);
    EXPECT_EQ(board.sets, 2);  // nothing more once restored

    // A paste over one still waiting restores first; nobody asking, the fallback does.
    keys.onPaste = nullptr;
    paster->paste("一");
    paster->paste("二");
    dispatcher.advance(PasteSequence::RESTORE_FALLBACK - 0.001);
    EXPECT_EQ(board.contents.at(PASTEBOARD_TEXT_TYPE), "二");
    dispatcher.advance(0.001);
    EXPECT_EQ(board.contents, user);
    EXPECT_EQ(keys.pastes, 3);
}

TEST_F(Paste, AClipboardSavedAheadIsUsedOnlyWhileNothingChangedIt) {
    paster->prepare();
    const int reads = board.reads;
    paster->paste("你好");
    EXPECT_EQ(board.reads, reads) << "saved again though nothing changed";
    paster->restoreNow();
    EXPECT_EQ(board.contents, user);

    paster->prepare();
    board.contents = {{PASTEBOARD_TEXT_TYPE, "copied meanwhile"}};
    ++board.changes;
    paster->paste("你好");
    paster->restoreNow();
    EXPECT_EQ(board.contents.at(PASTEBOARD_TEXT_TYPE), "copied meanwhile");
}

TEST_F(Paste, AnOversizedClipboardIsSavedAsTextOnlyAndSaysSo) {
    const Formats text{{PASTEBOARD_TEXT_TYPE, std::string(PasteSequence::MAX_SAVED_BYTES, 't')}};
    board.contents = text;
    board.contents["image/png"] = "x";
    paster->paste("你好");
    dispatcher.advance(PasteSequence::RESTORE_FALLBACK);
    EXPECT_TRUE(board.contents == text);
    EXPECT_EQ(log.lines.size(), 1u);
}

TEST_F(Paste, WithoutTrustTheTranscriptStaysForTheUserAndThePermissionIsAskedEachTime) {
    trust.trusted = false;
    for (int i = 1; i <= 2; ++i) {
        EXPECT_EQ(paster->paste("你好"), Paster::Outcome::leftOnClipboard);
        dispatcher.advance(60);
        EXPECT_EQ(board.contents, transcript);
        EXPECT_TRUE(board.transcript);
        EXPECT_EQ(trust.prompts, i);
    }
    EXPECT_EQ(keys.pastes, 0);
}

TEST_F(Paste, AKeptTranscriptStaysOnTheClipboard) {
    paster->paste("你好");
    paster->keepTranscript();
    board.fetched();
    dispatcher.advance(PasteSequence::RESTORE_FALLBACK);
    paster->restoreNow();
    EXPECT_EQ(board.contents, transcript);
}

}  // namespace
}  // namespace zavren
