#include "dictation/paste.h"

#include <gtest/gtest.h>

#include "fakes/fake_dispatcher.h"
#include "fakes/fake_ports.h"

namespace zavren {
namespace {

using Formats = Pasteboard::Formats;
using Content = Pasteboard::Content;
using Outcome = Paster::Outcome;

class Paste : public ::testing::Test {
  protected:
    fakes::FakeDispatcher dispatcher;
    fakes::FakePasteboard board;
    fakes::FakeKeySynthesizer keys;
    fakes::FakeTrust trust;
    fakes::FakeLog log;
    std::shared_ptr<PasteSequence> paster =
        PasteSequence::create(dispatcher, board, keys, trust, log);
    const Formats user{{PASTEBOARD_TEXT_TYPE, "SECRET-PW"},
                       {"image/png", std::string("\x89PNG\0\x01", 6)},
                       {"text/html", "<b>x</b>"}};
    std::vector<Outcome> outcomes;
    // What the target read, each time it read.
    std::vector<std::string> received;
    int restores = 0;

    void SetUp() override {
        board.contents = user;
        // Counts each time the user's clipboard goes back.
        board.onSet = [this](Content c) { restores += c == Content::restored ? 1 : 0; };
    }
    Paster::Done note() {
        return [this](Outcome o) { outcomes.push_back(o); };
    }
    // A target that reads the clipboard this long after the chord, as a busy one does.
    void targetReadsAfter(double secs) {
        keys.onPaste = [this, secs] {
            dispatcher.postAfter(seconds(secs), [this] {
                received.push_back(board.contents[PASTEBOARD_TEXT_TYPE]);
                board.fetched();
            });
        };
    }
    std::string text() { return board.contents[PASTEBOARD_TEXT_TYPE]; }
};

TEST_F(Paste, AnswersCloseTogetherLandOnceEachInOrderAndTheUserClipboardComesBackOnce) {
    targetReadsAfter(0.15);
    const std::pair<double, const char*> answers[] = {
        {0.000, "一"}, {0.001, "二"}, {0.050, "三"}, {0.130, "四"}, {0.200, "五"}};
    for (auto [at, sentence] : answers)
        dispatcher.postAfter(seconds(at),
                             [this, s = std::string(sentence)] { paster->paste(s, note()); });
    dispatcher.advance(0.2);
    EXPECT_EQ(restores, 0);
    dispatcher.advance(5);
    EXPECT_EQ(received, (std::vector<std::string>{"一", "二", "三", "四", "五"}));
    EXPECT_EQ(outcomes, std::vector<Outcome>(5, Outcome::typed));
    EXPECT_EQ(restores, 1);
    EXPECT_EQ(board.contents, user);
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(Paste, ATranscriptNobodyFetchesStaysUnmarkedUntilTheUsersOwnPaste) {
    paster->paste("一", note());
    paster->paste("二", note());  // queued behind it: kept with it, in order
    EXPECT_EQ(board.content, Content::pasted);
    dispatcher.advance(PasteSequence::FETCH_DEADLINE - 0.001);
    EXPECT_TRUE(outcomes.empty());
    dispatcher.advance(0.001);
    EXPECT_EQ(text(), "一\n二");
    EXPECT_EQ(board.content, Content::kept);
    EXPECT_EQ(outcomes, std::vector<Outcome>(2, Outcome::leftOnClipboard));
    EXPECT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(keys.pastes, 1);

    dispatcher.advance(30);
    EXPECT_EQ(text(), "一\n二");
    board.fetched();  // the user pasted it
    dispatcher.advance(PasteSequence::FETCH_GRACE);
    EXPECT_EQ(board.contents, user);

    // Never pasted by hand: the user's clipboard comes back when its time is up.
    paster->paste("三", note());
    dispatcher.advance(PasteSequence::FETCH_DEADLINE + PasteSequence::KEEP_FOR - 0.001);
    EXPECT_EQ(text(), "三");
    dispatcher.advance(0.001);
    EXPECT_EQ(board.contents, user);
    EXPECT_EQ(restores, 2);

    // Nor over a copy the user made meanwhile.
    paster->paste("四", note());
    dispatcher.advance(PasteSequence::FETCH_DEADLINE + 1);
    board.contents = {{PASTEBOARD_TEXT_TYPE, "newer"}};
    dispatcher.advance(PasteSequence::KEEP_FOR);
    EXPECT_EQ(text(), "newer");
    EXPECT_EQ(restores, 2);
}

TEST_F(Paste, ANewDictationReplacesOneLeftForTheUserAndIsPastedAsUsual) {
    paster->paste("一", note());
    dispatcher.advance(PasteSequence::FETCH_DEADLINE);
    targetReadsAfter(0.05);
    paster->paste("二", note());
    dispatcher.advance(1);
    EXPECT_EQ(received, std::vector<std::string>{"二"});
    EXPECT_EQ(board.contents, user);
    EXPECT_EQ(restores, 1);
}

// The keys sent before the helper holds the selection would paste the old clipboard.
TEST_F(Paste, WhereTheOfferComesLateTheKeysWaitForItOrTheTranscriptIsKept) {
    board.late = true;
    targetReadsAfter(0.05);
    paster->paste("一", note());
    dispatcher.advance(PasteSequence::OFFER_DEADLINE - 0.001);
    EXPECT_EQ(keys.pastes, 0);
    board.offered();
    board.offered();  // a stray second notice sends nothing more
    // The desktop's clipboard keeper reads at once; the keys wait for the helper's focus
    // to return, and the keeper's read counts only once they went.
    board.fetched();
    dispatcher.advance(PasteSequence::FOCUS_RETURN - 0.001);
    EXPECT_EQ(keys.pastes, 0);
    EXPECT_TRUE(outcomes.empty());
    dispatcher.advance(0.001);
    EXPECT_EQ(keys.pastes, 1);
    EXPECT_EQ(outcomes, std::vector<Outcome>{Outcome::typed});
    // The target reads the keeper's copy later: the restore leaves it the time.
    dispatcher.advance(PasteSequence::KEEPER_GRACE - 0.001);
    EXPECT_EQ(received, std::vector<std::string>{"一"});
    EXPECT_EQ(text(), "一");
    dispatcher.advance(0.001);
    EXPECT_EQ(board.contents, user);

    paster->paste("二", note());
    dispatcher.advance(PasteSequence::OFFER_DEADLINE);
    EXPECT_EQ(keys.pastes, 1);
    EXPECT_EQ(text(), "二");
    EXPECT_EQ(board.content, Content::kept);
    EXPECT_EQ(outcomes, (std::vector<Outcome>{Outcome::typed, Outcome::leftOnClipboard}));
    board.offered();  // too late: the keys stay unsent
    EXPECT_EQ(keys.pastes, 1);

    // Read by no keeper: the keys go once the focus has had its time, and wait for a read.
    paster->paste("三", note());
    board.offered();
    dispatcher.advance(PasteSequence::FOCUS_RETURN);
    EXPECT_EQ(keys.pastes, 2);
    EXPECT_EQ(outcomes.size(), 2u);
}

TEST_F(Paste, TheChordAndTheTextFollowTheFocusedApplication) {
    struct Case {
        std::vector<std::string> app;
        bool primary;
        std::optional<PasteKeys> keys;  // none: left for the user without a chord
        const char* text;
        bool primarySet;
    };
    const Case cases[] = {
        {{"Navigator", "firefox"}, true, PasteKeys::ctrlV, "echo hi\nls", false},
        {{"kitty", "kitty"}, true, PasteKeys::ctrlShiftV, "echo hi ls", false},
        {{"xterm", "XTerm"}, true, PasteKeys::shiftInsert, "echo hi ls", true},
        {{"xterm", "XTerm"}, false, std::nullopt, "echo hi ls", false},
    };
    for (const auto& c : cases) {
        board.primaryAvailable = c.primary;
        board.primary.reset();
        keys.app = c.app;
        keys.lastKeys.reset();
        targetReadsAfter(0.01);
        paster->paste(
            " \x1b\x07"
            "echo hi\nls\u202e\n",
            note());
        EXPECT_EQ(keys.lastKeys, c.keys) << c.app[0];
        EXPECT_EQ(text(), c.text) << c.app[0];
        EXPECT_EQ(board.primary.has_value(), c.primarySet) << c.app[0];
        dispatcher.advance(PasteSequence::FETCH_DEADLINE + PasteSequence::KEEP_FOR);
        EXPECT_EQ(board.contents, user);
    }
}

TEST_F(Paste, AClipboardSavedAheadIsUsedOnlyWhileNothingChangedIt) {
    targetReadsAfter(0);
    paster->prepare();
    const int reads = board.reads;
    paster->paste("你好", note());
    EXPECT_EQ(board.reads, reads) << "saved again though nothing changed";
    dispatcher.advance(1);
    EXPECT_EQ(board.contents, user);

    paster->prepare();
    board.contents = {{PASTEBOARD_TEXT_TYPE, "copied meanwhile"}};
    ++board.changes;
    paster->paste("你好", note());
    dispatcher.advance(1);
    EXPECT_EQ(text(), "copied meanwhile");
}

TEST_F(Paste, AnOversizedClipboardIsSavedAsTextOnlyAndSaysSo) {
    targetReadsAfter(0);
    const Formats big{{PASTEBOARD_TEXT_TYPE, std::string(PasteSequence::MAX_SAVED_BYTES, 't')}};
    board.contents = big;
    board.contents["image/png"] = "x";
    paster->paste("你好", note());
    dispatcher.advance(1);
    EXPECT_TRUE(board.contents == big);
    EXPECT_EQ(log.lines.size(), 1u);
}

TEST_F(Paste, WithoutTrustTheTranscriptStaysForTheUserAndThePermissionIsAskedEachTime) {
    trust.trusted = false;
    for (int i = 1; i <= 2; ++i) {
        paster->paste("你好", note());
        EXPECT_EQ(text(), "你好");
        EXPECT_EQ(board.content, Content::kept);
        EXPECT_EQ(trust.prompts, i);
        EXPECT_EQ(outcomes.back(), Outcome::leftOnClipboard);
    }
    EXPECT_EQ(keys.pastes, 0);
}

TEST_F(Paste, TextWithNothingLeftOnceCleanedIsNotPasted) {
    paster->paste(" \x07\u202e ", note());
    EXPECT_EQ(outcomes, std::vector<Outcome>{Outcome::nothing});
    EXPECT_EQ(keys.pastes, 0);
    dispatcher.advance(1);
    EXPECT_EQ(board.contents, user);
}

TEST_F(Paste, AChordThatCannotArriveLeavesTheTranscriptAtOnce) {
    paster->paste("你好", note());
    paster->keepTranscript();
    EXPECT_EQ(outcomes, std::vector<Outcome>{Outcome::leftOnClipboard});
    EXPECT_EQ(text(), "你好");
    EXPECT_EQ(board.content, Content::kept);
    board.fetched();  // the user's own paste
    dispatcher.advance(1);
    EXPECT_EQ(board.contents, user);
}

}  // namespace
}  // namespace zavren
