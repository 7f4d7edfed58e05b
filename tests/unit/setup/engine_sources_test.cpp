// The first-run window's ways to an engine besides the download, through the
// window manager as the program wires it: file dialogues and alerts are fakes, the
// engine folder is real.
#include "setup/engine_sources.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

#include "engine/locator.h"
#include "fakes/fake_dispatcher.h"
#include "fakes/fake_installer.h"
#include "fakes/fake_ports.h"
#include "fakes/fake_setup_windows.h"
#include "setup/setup_windows.h"
#include "support/fake_engine.h"
#include "support/temp_dir.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;

struct FakeChooser : FileChooser {
    std::deque<std::optional<std::string>> answers;  // nothing when run out: cancelled
    std::vector<std::string> titles;
    void choose(const FileRequest& r, std::function<void(std::optional<std::string>)> f) override {
        titles.push_back(r.title);
        auto a = answers.empty() ? std::nullopt : answers.front();
        if (!answers.empty()) answers.pop_front();
        f(a);
    }
};

struct OtherWays : ::testing::Test {
    test::TempDir tmp;
    std::string root = tmp / "engine";
    fakes::FakeDispatcher d;
    fakes::FakeMicrophone mic;
    fakes::FakeTrust trust;
    fakes::FakeDesktop desktop;
    fakes::FakePasteboard pasteboard;
    fakes::FakeLog log;
    fakes::FakeInstaller installer;
    FakeChooser chooser;
    fakes::FakeFactory factory;
    EngineState engine = EngineState::notInstalled;
    SetupWindows windows{{factory,
                          desktop,
                          pasteboard,
                          d,
                          mic,
                          trust,
                          std::nullopt,
                          {},
                          [this] { return engine; },
                          {&chooser, &log, root}}};

    void SetUp() override {
        windows.showOnboarding(installer);
        for (const char* f : {"llama-server", "model.gguf", "mmproj.gguf"})
            test::writeFile(tmp / f, "x", std::string(f) == "llama-server");
    }
    OnboardingController& controller() { return *windows.onboardingController(); }
    std::vector<std::string> buttons() {
        std::vector<std::string> out;
        for (const auto& item : controller().model().install)
            if (auto* b = std::get_if<ActionButton>(&item)) out.push_back(b->title);
        return out;
    }
    std::string shownFailure() {
        const InstallPhase shown = controller().shownPhase();
        auto f = shown.get<InstallPhase::Failed>();
        return f ? f->message : "";
    }
};

TEST_F(OtherWays, UsingAnEngineOnDiskRegistersItsFilesWithTheCommandLinesChecks) {
    EXPECT_EQ(buttons(), (std::vector<std::string>{"开始下载", "使用已有引擎…", "从文件安装…"}));

    desktop.alertAnswers = {0, 0};
    chooser.answers = {tmp / "llama-server", tmp / "model.gguf"};  // then cancelled
    controller().perform(OnboardingAction::useExistingEngine);
    EXPECT_EQ(chooser.titles, (std::vector<std::string>{"选择 llama-server 程序", "选择模型文件",
                                                        "选择 mmproj 投影文件"}));
    EXPECT_FALSE(fs::exists(root)) << "a cancelled choice registers nothing";

    // Not executable: refused in the words of `zavren engine add`.
    fs::permissions(tmp / "llama-server", fs::perms::owner_read | fs::perms::owner_write);
    chooser.answers = {tmp / "llama-server", tmp / "model.gguf", tmp / "mmproj.gguf"};
    controller().perform(OnboardingAction::useExistingEngine);
    ASSERT_EQ(desktop.alerts.size(), 3u);
    EXPECT_EQ(desktop.alerts[2].informative,
              "llama-server 程序 " + tmp / "llama-server" + " 没有执行权限");
    EXPECT_EQ(log.lines.back(), "ZAVREN: 登记引擎失败:" + desktop.alerts[2].informative);

    fs::permissions(tmp / "llama-server", fs::perms::owner_all);
    chooser.answers = {tmp / "llama-server", tmp / "model.gguf", tmp / "mmproj.gguf"};
    desktop.alertAnswers = {0};
    controller().perform(OnboardingAction::useExistingEngine);
    const auto added = EngineLocator::installed(root);
    ASSERT_TRUE(added);
    EXPECT_EQ(fs::read_symlink(added->dir + "/bin/llama-server"), tmp / "llama-server");
    EXPECT_EQ(desktop.alerts.back().message, "已登记引擎");

    // The window follows the engine, whatever put it there.
    engine = EngineState::ready;
    d.advance(1.0);
    EXPECT_TRUE(controller().model().installStep.done);
    EXPECT_TRUE(buttons().empty());
}

TEST_F(OtherWays, AFailedInstallFromFilesIsShownLoggedAndGivesWayToTheDownload) {
    chooser.answers = {std::nullopt};
    controller().perform(OnboardingAction::installFromFile);
    EXPECT_FALSE(controller().shownPhase().is<InstallPhase::Verifying>()) << "cancelled";

    test::writeFile(tmp / "dl/engine.json",
                    R"({"version":"2","url":"https://x/a/engine-2.tar.gz","sha256":")" +
                        std::string(64, 'a') + R"(","size":1})");
    chooser.answers = {tmp / "dl/engine.json"};
    controller().perform(OnboardingAction::installFromFile);
    EXPECT_TRUE(controller().shownPhase().is<InstallPhase::Verifying>()) << "shown at once";
    controller().perform(OnboardingAction::installFromFile);  // ignored while it checks
    EXPECT_EQ(chooser.titles.size(), 2u);
    d.runUntilIdle();
    EXPECT_EQ(shownFailure(), "找不到引擎包:" + tmp / "dl/engine-2.tar.gz" +
                                  " 不存在(应与 engine.json 放在同一文件夹)");
    EXPECT_EQ(log.lines.back(), "ZAVREN: 从文件安装引擎失败:" + shownFailure());
    EXPECT_EQ(buttons(), (std::vector<std::string>{"开始下载", "使用已有引擎…", "从文件安装…"}));

    test::writeFile(tmp / "dl/engine-2.tar.gz", "xy");  // the wrong size
    chooser.answers = {tmp / "dl/engine.json"};
    controller().perform(OnboardingAction::installFromFile);
    d.runUntilIdle();
    EXPECT_NE(shownFailure().find("校验失败"), std::string::npos) << shownFailure();
    EXPECT_FALSE(fs::exists(root + "/.install-from.tmp"));

    controller().perform(OnboardingAction::startInstall);
    EXPECT_EQ(installer.starts, 1);
    installer.setPhase(InstallPhase::Failed{"无法获取引擎信息"});
    EXPECT_EQ(shownFailure(), "无法获取引擎信息") << "the download's outcome, asked for last";
    EXPECT_EQ(buttons().front(), "重试");
}

}  // namespace
}  // namespace zavren
