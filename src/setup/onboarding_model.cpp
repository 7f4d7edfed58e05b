#include "setup/onboarding_model.h"

#include <algorithm>

#include "shared/constants.h"

#ifndef ZAVREN_INTEL_NOTICE
#define ZAVREN_INTEL_NOTICE 0
#endif

namespace zavren {

namespace {

Styled text(std::string s, int size, Tone tone = Tone::primary, bool wraps = false) {
    return Styled{std::move(s), size, Weight::regular, tone, wraps};
}

StepRow step(std::string number, std::string title, bool done) {
    return StepRow{std::move(number), Styled{std::move(title), 13, Weight::semibold}, done};
}

struct InstallItemsFor {
    bool intelNotice;

    std::vector<InstallItem> operator()(const InstallPhase::Idle&) const {
        std::vector<InstallItem> items;
        items.emplace_back(
            text("语音引擎将下载到本机。从此你说的每个字,都在这台电脑上变成文字——识别不联网、"
                 "不上传。除了日后的更新,这是 ZAVREN 最需要网络的一次。",
                 12, Tone::secondary, true));
        if (intelNotice) {
            items.emplace_back(
                text("Intel 芯片提示:识别在 CPU 上运行,转写速度会低于 Apple 芯片版。", 11,
                     Tone::orange, true));
        }
        items.emplace_back(ActionButton{DOWNLOAD_BUTTON, OnboardingAction::startInstall});
        otherWays(items);
        return items;
    }
    std::vector<InstallItem> operator()(const InstallPhase::Manifest&) const { return {Spinner{}}; }
    std::vector<InstallItem> operator()(const InstallPhase::Downloading& d) const {
        return {
            ProgressBar{static_cast<double>(d.received), static_cast<double>(d.total)},
            text("已下载 " + fmtMB(d.received) + " / " + fmtMB(d.total) + " · 中断可续传", 11,
                 Tone::secondary),
            text("引擎就位后,你的声音将不经过任何服务器,包括我们的。可以先去倒杯水,"
                 "完成后我们在菜单栏等你。",
                 10, Tone::secondary, true),
        };
    }
    std::vector<InstallItem> operator()(const InstallPhase::Verifying&) const {
        return {SpinnerRow{text("校验完整性…", 12)}};
    }
    std::vector<InstallItem> operator()(const InstallPhase::Extracting&) const {
        return {SpinnerRow{text("安装引擎…", 12)}};
    }
    std::vector<InstallItem> operator()(const InstallPhase::Done&) const {
        return {text("引擎就位。从现在起,识别全程本地。", 12, Tone::secondary)};
    }
    std::vector<InstallItem> operator()(const InstallPhase::Failed& f) const {
        std::vector<InstallItem> items{text(f.message, 11, Tone::orange, true),
                                       ActionButton{"重试", OnboardingAction::startInstall}};
        otherWays(items);
        return items;
    }
    // Offline, or with an engine of their own, the user still has a way forward.
    static void otherWays(std::vector<InstallItem>& items) {
        items.emplace_back(text(OTHER_WAYS, 11, Tone::secondary, true));
        items.emplace_back(
            ActionButton{"使用已有引擎…", OnboardingAction::useExistingEngine, true});
        items.emplace_back(ActionButton{"从文件安装…", OnboardingAction::installFromFile, true});
    }
};

PermissionRow permission(bool granted, std::string label, std::string buttonTitle,
                         OnboardingAction action) {
    PermissionRow row{granted, text(std::move(label), 12), std::nullopt};
    if (!granted) row.button = ActionButton{std::move(buttonTitle), action, true};
    return row;
}

}  // namespace

double ProgressBar::fraction() const {
    // A server that sends no length leaves the total at 0; the bar then stays empty
    // rather than dividing by zero.
    if (!(total > 0) || !(value > 0)) return 0;
    return std::min(1.0, value / total);
}

bool intelNoticeInThisBuild() {
    return ZAVREN_INTEL_NOTICE != 0;
}

std::vector<InstallItem> installItems(const InstallPhase& phase, bool intelNotice) {
    return std::visit(InstallItemsFor{intelNotice}, phase.value);
}

OnboardingModel onboardingModel(const InstallPhase& phase, bool micOK, bool axOK, bool intelNotice,
                                const HotkeyStatus& hotkey, const Wording& wording) {
    const std::string hold = wording.hold(hotkey.key);
    OnboardingModel m;
    m.name = Styled{"ZAVREN", 24, Weight::heavy};
    m.suffix = Styled{".AI", 15, Weight::semibold, Tone::secondary};
    m.version = text("v" + APP_VERSION + " 公测", 11, Tone::secondary);
    m.intro = text(hold +
                       " 说话,松开,字落在光标处。\n识别在你自己的电脑上完成——不上云、不上传、"
                       "离线可用。",
                   13, Tone::secondary, true);

    m.permissionsStep = step("1", "授权麦克风与" + std::string(wording.pasteAccess), micOK && axOK);
    m.permissions = {
        permission(micOK, "麦克风——听你说话", "去授权", OnboardingAction::requestMicrophone),
        permission(axOK, std::string(wording.pasteAccessRow),
                   std::string(wording.pasteAccessButton), OnboardingAction::openAccessibility),
    };
    m.permissionsNote =
        text("两项授权只服务本机听写:声音与文字不上传;录音即用即删,不保存任何记录。", 11,
             Tone::secondary, true);

    m.installStep = step("2", "把引擎搬进来(约 1 GB,仅此一次)", phase.is<InstallPhase::Done>());
    m.install = installItems(phase, intelNotice);

    // The last step is the user's own first dictation, which this window never sees.
    m.tryStep = step("3", hold + ",说一句试试", false);
    if (hotkey.needsSetup) {
        m.tryText = text(hotkeySetupHelp(hotkey.key), 12, Tone::orange, true);
    } else {
        m.tryText = text("把光标放进任何输入框," + wording.hold(hotkey.key, true) +
                             " 说「帮我把这个 function 重构,加上 error handling」——"
                             "松开,看字落下来。回不回车,由你。" +
                             (hotkeyViaText(hotkey.via).empty() ? std::string()
                                                                : "\n" + hotkeyViaText(hotkey.via)),
                         12, Tone::secondary, true);
    }

    m.footer = text(COPYRIGHT + " · " + CONTACT, 10, Tone::secondary);
    return m;
}

}  // namespace zavren
