// The program's wiring: what reaches the controller, how its answer is polished,
// and whose listener it talks to.
#include "app/desktop_program.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "fakes/fake_platform.h"
#include "fakes/fake_setup_windows.h"
#include "shared/constants.h"
#include "text/itn.h"
#include "unit/dictation/harness.h"
#include "unit/engine/engine_layout.h"

namespace zavren {
namespace {

using namespace fakes;

struct NoFolderWatcher : FolderWatcher {
    std::unique_ptr<FolderWatch> watch(const std::string&, std::function<void()>) override {
        return nullptr;
    }
};

struct Program : ::testing::Test, FakePlatform {
    test::TempDir tmp;
    Paths paths = Paths::under(tmp.path);
    NoFolderWatcher folders;
    FakeFactory windowFactory;
    AppState st;
    std::vector<std::string> pasted;
    std::unique_ptr<DesktopProgram> program;

    void launch(const std::string& engineSays) {
        test::makeLlama(paths.engineRoot + "/engine-1.0");
        std::filesystem::create_directories(std::filesystem::path(paths.wav).parent_path());
        http.setResponder(
            [engineSays](const HttpRequest& r) -> std::optional<std::pair<HttpResponse, Duration>> {
                return std::pair{test::ok(r.url == HEALTH ? "" : test::chatAnswer(engineSays)),
                                 Duration{}};
            });
        // The focused application takes each paste at once.
        keys.onPaste = [this] {
            pasted.push_back(pasteboard.contents[PASTEBOARD_TEXT_TYPE]);
            pasteboard.fetched();
        };
        program = std::make_unique<DesktopProgram>(
            DesktopAdapters{platform, owners, folders, windowFactory, std::nullopt}, st,
            DesktopProgram::Settings{
                paths, {{"ZAVREN_UPDATE_BASE", "ftp://elsewhere"}}, "/usr/bin/zavren"});
        program->launch();
        d.runUntilIdle();
    }
    void key(HotkeyEvent event) {
        hotkey.handler(event);
        d.runUntilIdle();
    }
    void dictate() {
        key(HotkeyEvent::press);
        recorders.feedSamples(8000, 500);
        d.advance(DictationController::METER_INTERVAL);
        key(HotkeyEvent::release);
        d.advance(PasteSequence::FETCH_GRACE);  // the next paste waits for this one's
    }
    std::size_t chatRequests() const { return http.countTo(CHAT_URL); }
};

TEST_F(Program, TheHotkeyDictatesAndTheWrittenFormSwitchDecidesThePaste) {
    launch("三点五");
    ASSERT_EQ(st.engine(), EngineState::ready);
    EXPECT_EQ(log.countStartingWith("ZAVREN: ZAVREN_UPDATE_BASE"), 1u) << "bad base is named";
    dictate();
    ITN::toggle(defaults);
    dictate();
    EXPECT_EQ(pasted, (std::vector<std::string>{"3.5", "三点五"}));
}

TEST_F(Program, NothingIsSentWhenAStrangerHoldsTheEnginePort) {
    launch("你好");
    owners.listener = ListenerOwner::stranger;
    dictate();
    EXPECT_EQ(chatRequests(), 0u);
    EXPECT_TRUE(pasted.empty());
    EXPECT_EQ(st.engine(), EngineState::failed);
}

// The shell's windows are the ones built here from the session's factory.
TEST_F(Program, TheMenuOpensTheFirstRunWindowFromTheSessionsFactory) {
    launch("你好");
    program->shell().perform(MenuAction::showInstaller);
    EXPECT_EQ(windowFactory.events, (WindowEvents{"make:onboarding", "show:onboarding"}));
}

}  // namespace
}  // namespace zavren
