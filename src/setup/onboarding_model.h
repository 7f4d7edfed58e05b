#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "engine/installer/phase.h"
#include "platform/hotkey_key.h"
#include "platform/wording.h"
#include "setup/text_style.h"

namespace zavren {

// What the buttons of the first-run window ask for.
enum class OnboardingAction {
    requestMicrophone,
    openAccessibility,
    startInstall,
    useExistingEngine,
    installFromFile
};

inline const std::string DOWNLOAD_BUTTON = "开始下载";
// Leads to the ways besides the download.
inline const std::string OTHER_WAYS = "没有网络,或已有引擎?也可以:";

struct ActionButton {
    std::string title;
    OnboardingAction action;
    bool small = false;
    bool operator==(const ActionButton&) const = default;
};

// One permission line of step 1: a green or orange dot, its label, and a button
// only while the permission is missing.
struct PermissionRow {
    bool granted = false;
    Styled label;
    std::optional<ActionButton> button;
    bool operator==(const PermissionRow&) const = default;
};

struct Spinner {
    bool operator==(const Spinner&) const = default;
};
// A small spinner followed by a text on the same line.
struct SpinnerRow {
    Styled text;
    bool operator==(const SpinnerRow&) const = default;
};
struct ProgressBar {
    double value = 0;
    double total = 0;
    // value / total for drawing, held within 0…1; 0 while the total is unknown.
    double fraction() const;
    bool operator==(const ProgressBar&) const = default;
};

// One item of the install step, top to bottom.
using InstallItem = std::variant<Styled, ActionButton, Spinner, SpinnerRow, ProgressBar>;

struct StepRow {
    std::string number;
    Styled title;
    bool done = false;
};

struct OnboardingModel {
    Styled name;     // "ZAVREN"
    Styled suffix;   // ".AI"
    Styled version;  // "v0.12.0 公测"
    Styled intro;
    StepRow permissionsStep;
    std::vector<PermissionRow> permissions;  // microphone, then the paste keystroke
    Styled permissionsNote;
    StepRow installStep;
    std::vector<InstallItem> install;
    StepRow tryStep;
    Styled tryText;
    Styled footer;
};

// Whether this build shows the Intel processor notice before the download.
bool intelNoticeInThisBuild();

// The texts name the chosen key in the words of the platform; while the key
// cannot reach the program yet, the last step says how to connect it instead.
OnboardingModel onboardingModel(const InstallPhase& phase, bool micOK, bool axOK,
                                bool intelNotice = intelNoticeInThisBuild(),
                                const HotkeyStatus& hotkey = {},
                                const Wording& wording = platformWording());

// The install step's items alone, for the given installer phase.
std::vector<InstallItem> installItems(const InstallPhase& phase, bool intelNotice);

}  // namespace zavren
