#include <gtest/gtest.h>

#include "setup/onboarding_model.h"
#include "shared/constants.h"

namespace zavren {
namespace {

const std::string IDLE_TEXT =
    "语音引擎将下载到本机。从此你说的每个字,都在这台电脑上变成文字——识别不联网、不上传。"
    "除了日后的更新,这是 ZAVREN 最需要网络的一次。";
const std::string INTEL_TEXT = "Intel 芯片提示:识别在 CPU 上运行,转写速度会低于 Apple 芯片版。";
const std::string WAIT_TEXT =
    "引擎就位后,你的声音将不经过任何服务器,包括我们的。可以先去倒杯水,完成后我们在菜单栏等你。";

InstallPhase phaseOf(InstallPhase::Value v) {
    return InstallPhase{std::move(v)};
}

Styled secondary(std::string text, int size, bool wraps = false) {
    return Styled{std::move(text), size, Weight::regular, Tone::secondary, wraps};
}

struct PhaseCase {
    std::string name;
    InstallPhase::Value phase;
    std::vector<InstallItem> items;
};

class InstallStepByPhase : public testing::TestWithParam<PhaseCase> {};

TEST_P(InstallStepByPhase, ShowsExactlyTheItemsOfThePhase) {
    const auto& c = GetParam();
    EXPECT_EQ(installItems(phaseOf(c.phase), false), c.items);
    EXPECT_EQ(onboardingModel(phaseOf(c.phase), true, true, false).install, c.items);
}

INSTANTIATE_TEST_SUITE_P(
    Phases, InstallStepByPhase,
    testing::Values(
        PhaseCase{"idle",
                  InstallPhase::Idle{},
                  {secondary(IDLE_TEXT, 12, true),
                   ActionButton{"开始下载", OnboardingAction::startInstall}}},
        PhaseCase{"manifest", InstallPhase::Manifest{}, {Spinner{}}},
        PhaseCase{"downloading",
                  InstallPhase::Downloading{536870912, 1073741824},
                  {ProgressBar{536870912.0, 1073741824.0},
                   secondary("已下载 512 MB / 1024 MB · 中断可续传", 11),
                   secondary(WAIT_TEXT, 10, true)}},
        PhaseCase{"verifying", InstallPhase::Verifying{}, {SpinnerRow{Styled{"校验完整性…", 12}}}},
        PhaseCase{"extracting", InstallPhase::Extracting{}, {SpinnerRow{Styled{"安装引擎…", 12}}}},
        PhaseCase{
            "done", InstallPhase::Done{}, {secondary("引擎就位。从现在起,识别全程本地。", 12)}},
        PhaseCase{"failed",
                  InstallPhase::Failed{"下载失败:网络连接已中断。请检查网络后重试。"},
                  {Styled{"下载失败:网络连接已中断。请检查网络后重试。", 11, Weight::regular,
                          Tone::orange, true},
                   ActionButton{"重试", OnboardingAction::startInstall}}}),
    [](const auto& info) { return info.param.name; });

TEST(InstallStep, IntelNoticeSitsBetweenTextAndButtonOnlyWhenBuiltIn) {
    EXPECT_FALSE(intelNoticeInThisBuild());
    auto items = installItems(phaseOf(InstallPhase::Idle{}), true);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(std::get<Styled>(items[1]),
              (Styled{INTEL_TEXT, 11, Weight::regular, Tone::orange, true}));
    EXPECT_TRUE(std::holds_alternative<ActionButton>(items[2]));
    // The notice belongs to the idle step only.
    EXPECT_EQ(installItems(phaseOf(InstallPhase::Manifest{}), true).size(), 1u);
}

TEST(Progress, TextRoundsToWholeMegabytesAndTheBarStaysDrawableForAnyCounts) {
    auto items = installItems(phaseOf(InstallPhase::Downloading{1572864, 1073741824}), false);
    EXPECT_EQ(std::get<Styled>(items[1]).text, "已下载 2 MB / 1024 MB · 中断可续传");
    items = installItems(phaseOf(InstallPhase::Downloading{0, 0}), false);
    EXPECT_EQ(std::get<Styled>(items[1]).text, "已下载 0 MB / 0 MB · 中断可续传");

    struct Case {
        double value, total, fraction;
    };
    for (auto c : {Case{536870912, 1073741824, 0.5}, Case{0, 100, 0}, Case{100, 100, 1},
                   Case{150, 100, 1}, Case{10, 0, 0}, Case{-5, 100, 0}, Case{5, -1, 0}}) {
        EXPECT_DOUBLE_EQ((ProgressBar{c.value, c.total}.fraction()), c.fraction)
            << c.value << " of " << c.total;
    }
}

TEST(PermissionStep, DoneOnlyWithBothPermissionsAndButtonsOnlyForMissingOnes) {
    struct Case {
        bool mic, ax;
    };
    for (auto c : {Case{false, false}, Case{true, false}, Case{false, true}, Case{true, true}}) {
        auto m = onboardingModel(phaseOf(InstallPhase::Idle{}), c.mic, c.ax, false);
        SCOPED_TRACE(testing::Message() << "mic " << c.mic << " ax " << c.ax);
        EXPECT_EQ(m.permissionsStep.done, c.mic && c.ax);
        ASSERT_EQ(m.permissions.size(), 2u);
        EXPECT_EQ(m.permissions[0].granted, c.mic);
        EXPECT_EQ(m.permissions[0].label.text, "麦克风——听你说话");
        EXPECT_EQ(m.permissions[0].button.has_value(), !c.mic);
        EXPECT_EQ(m.permissions[1].granted, c.ax);
        EXPECT_EQ(m.permissions[1].label.text, "辅助功能——把文字放进光标处");
        EXPECT_EQ(m.permissions[1].button.has_value(), !c.ax);
    }
    auto m = onboardingModel(phaseOf(InstallPhase::Idle{}), false, false, false);
    EXPECT_EQ(*m.permissions[0].button,
              (ActionButton{"去授权", OnboardingAction::requestMicrophone, true}));
    EXPECT_EQ(*m.permissions[1].button,
              (ActionButton{"打开设置", OnboardingAction::openAccessibility, true}));
}

TEST(Steps, InstallDoneOnlyWhenDoneAndTryStepNever) {
    std::vector<InstallPhase::Value> phases = {
        InstallPhase::Idle{},      InstallPhase::Manifest{},   InstallPhase::Downloading{1, 2},
        InstallPhase::Verifying{}, InstallPhase::Extracting{}, InstallPhase::Done{},
        InstallPhase::Failed{"x"}};
    for (const auto& p : phases) {
        auto m = onboardingModel(phaseOf(p), true, true, false);
        EXPECT_EQ(m.installStep.done, std::holds_alternative<InstallPhase::Done>(p));
        EXPECT_FALSE(m.tryStep.done);
    }
}

TEST(OnboardingTexts, HeaderStepsAndFooter) {
    auto m = onboardingModel(phaseOf(InstallPhase::Idle{}), false, false, false);
    EXPECT_EQ(m.name, (Styled{"ZAVREN", 24, Weight::heavy}));
    EXPECT_EQ(m.suffix, (Styled{".AI", 15, Weight::semibold, Tone::secondary}));
    EXPECT_EQ(m.version.text, "v0.12.0 公测");
    EXPECT_EQ(
        m.intro.text,
        "按住右 ⌥ 说话,松开,字落在光标处。\n识别在你自己的电脑上完成——不上云、不上传、离线可用。");
    EXPECT_EQ(m.permissionsStep.number, "1");
    EXPECT_EQ(m.permissionsStep.title.text, "授权麦克风与辅助功能");
    EXPECT_EQ(m.installStep.number, "2");
    EXPECT_EQ(m.installStep.title.text, "把引擎搬进来(约 1 GB,仅此一次)");
    EXPECT_EQ(m.tryStep.number, "3");
    EXPECT_EQ(m.tryStep.title.text, "按住右 ⌥,说一句试试");
    EXPECT_EQ(m.tryText.text,
              "把光标放进任何输入框,按住右 Option 说「帮我把这个 function 重构,加上 error "
              "handling」——松开,看字落下来。回不回车,由你。");
    EXPECT_EQ(m.permissionsNote.text,
              "两项授权只服务本机听写:声音与文字不上传;录音即用即删,不保存任何记录。");
    EXPECT_EQ(m.footer.text, "© 2026 ZAVREN.AI · " + CONTACT);
    EXPECT_EQ(m.footer.size, 10);
}

}  // namespace
}  // namespace zavren
