#include "dictation/portal_keyboard.h"

#include <gtest/gtest.h>

#include <deque>

#include "dictation/preferred_keys.h"
#include "fakes/fake_dispatcher.h"
#include "fakes/fake_ports.h"

namespace zavren {
namespace {

using State = PortalKeyboard::State;
using R = PortalResponse;

// A desktop portal that answers each request as scripted, a moment later as the
// bus would; a request scripted with no answer hangs for good.
class ScriptedPortal : public RemoteDesktopBus {
  public:
    explicit ScriptedPortal(fakes::FakeDispatcher& d) : d_(d) {}

    std::optional<std::optional<RemoteDesktopOffer>> offer = RemoteDesktopOffer{2, true};
    std::deque<std::optional<R>> creates, selects, starts;  // empty: ok
    std::string nextToken = "token-1";
    bool chordsSent = true;
    bool immediate = false;  // answers inside the call instead of a moment later

    std::vector<std::pair<bool, std::string>> selectCalls;  // persist, token
    std::vector<std::vector<PortalKey>> chords;
    std::vector<std::string> closed;
    int sessions = 0;
    std::function<void(const std::string&)> closedHandler;
    std::function<void(R, const std::string&)> heldCreate;

    void probe(std::function<void(std::optional<RemoteDesktopOffer>)> answer) override {
        if (offer) reply([answer, o = *offer] { answer(o); });
    }
    void createSession(std::function<void(R, const std::string&)> answer) override {
        auto r = next(creates);
        if (!r) {
            heldCreate = answer;
            return;
        }
        const std::string s = "/session/" + std::to_string(++sessions);
        reply([answer, r, s] { answer(*r, s); });
    }
    void selectKeyboard(const std::string&, bool persist, const std::string& token,
                        std::function<void(R)> answer) override {
        selectCalls.push_back({persist, token});
        if (auto r = next(selects)) reply([answer, r] { answer(*r); });
    }
    void start(const std::string&,
               std::function<void(R, bool, const std::string&)> answer) override {
        if (auto r = next(starts)) reply([answer, r, t = nextToken] { answer(*r, true, t); });
    }
    void chord(const std::string&, const std::vector<PortalKey>& keys,
               std::function<void(bool)> answer) override {
        chords.push_back(keys);
        reply([answer, ok = chordsSent] { answer(ok); });
    }
    void close(const std::string& session) override { closed.push_back(session); }
    void onClosed(std::function<void(const std::string&)> handler) override {
        closedHandler = std::move(handler);
    }

  private:
    void reply(std::function<void()> task) {
        if (immediate)
            task();
        else
            d_.post(std::move(task));
    }
    static std::optional<R> next(std::deque<std::optional<R>>& q) {
        if (q.empty()) return R::ok;
        auto r = q.front();
        q.pop_front();
        return r;
    }
    fakes::FakeDispatcher& d_;
};

class Portal : public ::testing::Test {
  protected:
    fakes::FakeDispatcher dispatcher;
    ScriptedPortal bus{dispatcher};
    fakes::FakeDefaults defaults;
    fakes::FakeLog log;
    int undelivered = 0;
    std::shared_ptr<PortalKeyboard> keyboard;

    void start(bool warm = false) {
        keyboard = PortalKeyboard::create({dispatcher, bus, defaults, log});
        keyboard->onUndelivered([this] { ++undelivered; });
        if (warm) keyboard->warmUp();
        dispatcher.runUntilIdle();
    }
    void paste(PasteKeys keys = PasteKeys::ctrlV) {
        keyboard->postPaste(keys);
        dispatcher.runUntilIdle();
    }
    std::string token() {
        return defaults.get<std::string>(PortalKeyboard::TOKEN_KEY).value_or("");
    }
};

const PortalKey CTRL{false, 29}, SHIFT{false, 42}, V{false, 47}, INSERT{false, 110};

TEST_F(Portal, AskedOnceThenEveryPasteTypesTheChordWithTheKeptApproval) {
    start();
    ASSERT_TRUE(keyboard->isTrusted(false));
    paste();  // no session yet: opens one and types once it is there
    ASSERT_EQ(bus.chords.size(), 1u);
    EXPECT_EQ(bus.chords[0], (std::vector<PortalKey>{CTRL, V}));
    EXPECT_EQ(bus.selectCalls.at(0), std::pair(true, std::string()));
    EXPECT_EQ(token(), "token-1");

    paste(PasteKeys::ctrlShiftV);  // the open session: no new request
    EXPECT_EQ(bus.chords.back(), (std::vector<PortalKey>{CTRL, SHIFT, V}));
    paste(PasteKeys::shiftInsert);
    EXPECT_EQ(bus.chords.back(), (std::vector<PortalKey>{SHIFT, INSERT}));
    EXPECT_EQ(bus.sessions, 1);

    dispatcher.advance(PortalKeyboard::IDLE_CLOSE);
    EXPECT_EQ(bus.closed, std::vector<std::string>{"/session/1"});
    EXPECT_EQ(keyboard->state(), State::idle);

    bus.nextToken = "token-2";
    keyboard->warmUp();
    dispatcher.runUntilIdle();
    EXPECT_EQ(keyboard->state(), State::open);
    EXPECT_EQ(bus.selectCalls.at(1).second, "token-1");
    EXPECT_EQ(token(), "token-2");  // a token serves one session
    EXPECT_EQ(undelivered, 0);
}

TEST_F(Portal, WithoutPersistenceNoTokenIsAskedOrKeptAndTheSessionStaysOpen) {
    bus.offer = RemoteDesktopOffer{1, true};
    defaults.setString(PortalKeyboard::TOKEN_KEY, "old");
    start(true);
    EXPECT_FALSE(bus.selectCalls.at(0).first);
    EXPECT_EQ(token(), "old");
    dispatcher.advance(PortalKeyboard::IDLE_CLOSE * 10);  // a new one might ask again
    EXPECT_EQ(keyboard->state(), State::open);
}

// What the user must hear about ends in the undelivered handler, so the transcript
// stays on the clipboard with the paste-by-hand hint.
TEST_F(Portal, ARefusalIsRememberedUntilTheUserAsksAgain) {
    bus.starts = {R::cancelled};
    start();
    paste();
    EXPECT_EQ(undelivered, 1);
    EXPECT_TRUE(bus.chords.empty());
    EXPECT_EQ(bus.closed.size(), 1u);
    EXPECT_FALSE(keyboard->isTrusted(true));
    EXPECT_EQ(defaults.get<bool>(PortalKeyboard::REFUSED_KEY), true);

    start(true);  // a restart remembers it too
    EXPECT_EQ(keyboard->state(), State::refused);
    EXPECT_EQ(bus.sessions, 1);

    keyboard->askAgain();
    dispatcher.runUntilIdle();
    EXPECT_EQ(keyboard->state(), State::open);
    EXPECT_EQ(defaults.get<bool>(PortalKeyboard::REFUSED_KEY), false);
}

TEST_F(Portal, AStaleTokenIsDroppedAndTheUserAskedAfreshButAFailureWithoutOneIsARefusal) {
    defaults.setString(PortalKeyboard::TOKEN_KEY, "stale");
    bus.starts = {R::failed};
    start();
    paste();
    ASSERT_EQ(bus.selectCalls.size(), 2u);
    EXPECT_EQ(bus.selectCalls[0].second, "stale");
    EXPECT_EQ(bus.selectCalls[1].second, "");
    EXPECT_EQ(bus.chords.size(), 1u);
    EXPECT_EQ(token(), "token-1");

    defaults.values.clear();
    bus.selects = {R::failed};
    start(true);
    EXPECT_EQ(keyboard->state(), State::refused);
    EXPECT_EQ(bus.selectCalls.size(), 3u);
}

TEST_F(Portal, ASessionClosedByTheDesktopMidPasteLeavesTheTextAndReopensNextTime) {
    start(true);
    bus.chordsSent = false;
    keyboard->postPaste(PasteKeys::ctrlV);
    bus.closedHandler("/session/1");
    dispatcher.runUntilIdle();
    EXPECT_EQ(undelivered, 1);
    EXPECT_EQ(keyboard->state(), State::idle);
    EXPECT_TRUE(bus.closed.empty());  // the desktop closed it already

    bus.chordsSent = true;
    paste();
    EXPECT_EQ(bus.sessions, 2);
    EXPECT_EQ(bus.chords.size(), 2u);
    EXPECT_EQ(undelivered, 1);
}

// No portal, one without a keyboard, or a probe that never answers.
TEST_F(Portal, AMissingPortalNeverTypes) {
    using Offer = std::optional<RemoteDesktopOffer>;
    for (const std::optional<Offer>& offer :
         {std::optional<Offer>(Offer{}), std::optional<Offer>(RemoteDesktopOffer{2, false}),
          std::optional<Offer>{}}) {
        bus.offer = offer;
        undelivered = 0;
        start(true);
        dispatcher.advance(PortalKeyboard::REPLY_TIMEOUT);
        EXPECT_EQ(keyboard->state(), State::missing);
        EXPECT_FALSE(keyboard->isTrusted(true));
        paste();
        EXPECT_EQ(undelivered, 1);
        EXPECT_EQ(bus.sessions, 0);
    }
}

TEST_F(Portal, AReplyThatNeverComesGivesThePasteUpBeforeTheClipboardIsRestored) {
    bus.creates = {std::nullopt};
    start();
    keyboard->postPaste(PasteKeys::ctrlV);
    dispatcher.advance(PortalKeyboard::PASTE_WAIT);
    EXPECT_EQ(undelivered, 1);
    dispatcher.advance(PortalKeyboard::REPLY_TIMEOUT);
    EXPECT_EQ(keyboard->state(), State::idle);  // not remembered: it may answer next time
    bus.heldCreate(R::ok, "/session/late");
    dispatcher.runUntilIdle();
    EXPECT_EQ(bus.closed, std::vector<std::string>{"/session/late"});
    EXPECT_TRUE(bus.chords.empty());
}

TEST_F(Portal, ThePortalIsAskedOnlyWhereTheCompositorHasNoVirtualKeyboard) {
    start();
    fakes::FakeKeySynthesizer ownKeys;
    fakes::FakeTrust ownTrust;
    bool known = false;
    AppState st;
    PreferredKeys keys({ownKeys, ownTrust, [&] { return known; }}, keyboard, st);

    keys.postPaste(PasteKeys::ctrlV);
    EXPECT_EQ(ownKeys.pastes, 1);
    ownTrust.trusted = false;
    st.setState(RecState::listening);
    EXPECT_FALSE(keys.isTrusted(true));  // not known yet: no prompt
    dispatcher.runUntilIdle();
    EXPECT_EQ(bus.sessions, 0);

    known = true;
    st.setState(RecState::idle);
    st.setState(RecState::listening);
    dispatcher.runUntilIdle();
    EXPECT_EQ(keyboard->state(), State::open);
    EXPECT_TRUE(keys.isTrusted(false));
    keys.postPaste(PasteKeys::ctrlV);
    dispatcher.runUntilIdle();
    EXPECT_EQ(bus.chords.size(), 1u);
    EXPECT_EQ(ownKeys.pastes, 1);
}

// A bus may answer inside the call: the step's timer must not outlive the step.
TEST_F(Portal, AnAnswerGivenAtOnceEndsItsStep) {
    bus.immediate = true;
    bus.offer = RemoteDesktopOffer{1, true};  // sessions stay open
    for (auto start : {std::optional<R>{}, std::optional(R::cancelled)}) {
        if (start) bus.starts = {*start};
        this->start(true);
        dispatcher.advance(PortalKeyboard::APPROVAL_TIMEOUT);
        EXPECT_EQ(keyboard->state(), start ? State::refused : State::open);
    }
}

}  // namespace
}  // namespace zavren
