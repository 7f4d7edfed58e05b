#include "setup/onboarding_controller.h"

#include "platform/wording.h"

namespace zavren {

namespace {
constexpr double POLL_SECONDS = 1.0;
}

std::shared_ptr<OnboardingController> OnboardingController::create(InstallerHandle& installer,
                                                                   OnboardingPorts ports) {
    auto controller = std::make_shared<OnboardingController>(installer, ports);
    std::weak_ptr<OnboardingController> weak = controller;
    controller->installerSubscription_ = installer.subscribe([weak] {
        if (auto self = weak.lock()) self->notify();
    });
    controller->sources_->onChange = [weak] {
        if (auto self = weak.lock()) self->notify();
    };
    return controller;
}

OnboardingController::OnboardingController(InstallerHandle& installer, OnboardingPorts ports)
    : installer_(installer),
      ports_(std::move(ports)),
      axOK_(ports_.trust.isTrusted(false)),
      hotkey_(readHotkey()),
      engine_(ports_.engine ? std::optional(ports_.engine()) : std::nullopt),
      sources_(EngineSources::create(ports_.dispatcher, ports_.desktop, ports_.sources)) {}

namespace {

bool busy(const InstallPhase& p) {
    return p.is<InstallPhase::Manifest>() || p.is<InstallPhase::Downloading>() ||
           p.is<InstallPhase::Verifying>() || p.is<InstallPhase::Extracting>();
}

}  // namespace

InstallPhase OnboardingController::shownPhase() const {
    const InstallPhase& download = installer_.phase();
    const auto& local = sources_->phase();
    if (busy(download)) return download;
    if (local && busy(*local)) return *local;
    if (engine_ == EngineState::ready) return InstallPhase{InstallPhase::Done{}};
    return local ? *local : download;
}

OnboardingModel OnboardingController::model() const {
    OnboardingModel m =
        onboardingModel(shownPhase(), micOK_, axOK_, intelNoticeInThisBuild(), hotkey_);
    // After a failed install from files, trying again means choosing the download.
    if (sources_->phase() && sources_->phase()->is<InstallPhase::Failed>() &&
        engine_ != EngineState::ready && !busy(installer_.phase())) {
        for (auto& item : m.install)
            if (auto* b = std::get_if<ActionButton>(&item);
                b && b->action == OnboardingAction::startInstall)
                b->title = DOWNLOAD_BUTTON;
    }
    if (!sources_->available()) {
        std::erase_if(m.install, [](const InstallItem& item) {
            auto* b = std::get_if<ActionButton>(&item);
            auto* t = std::get_if<Styled>(&item);
            return (b && b->action != OnboardingAction::startInstall) ||
                   (t && t->text == OTHER_WAYS);
        });
    }
    return m;
}

HotkeyStatus OnboardingController::readHotkey() const {
    return ports_.hotkey ? ports_.hotkey() : HotkeyStatus{};
}

void OnboardingController::perform(OnboardingAction action) {
    switch (action) {
        case OnboardingAction::requestMicrophone: {
            std::weak_ptr<OnboardingController> weak = weak_from_this();
            ports_.microphone.request([weak](bool granted) {
                if (auto self = weak.lock()) self->setPermissions(granted, self->axOK_);
            });
            break;
        }
        case OnboardingAction::openAccessibility:
            // The answer does not matter here: the poll notices the grant.
            ports_.trust.askForTrust();
            showPasteAccess(ports_.desktop, platformWording());
            break;
        case OnboardingAction::startInstall:
            if (!sources_->phase() || !busy(*sources_->phase())) sources_->forget();
            installer_.start();
            break;
        case OnboardingAction::useExistingEngine:
            sources_->useExisting();
            break;
        case OnboardingAction::installFromFile:
            sources_->installFromFile();
            break;
    }
}

OnboardingController::Subscription OnboardingController::subscribe(std::function<void()> observer) {
    auto token = std::make_shared<std::function<void()>>(std::move(observer));
    observers_.push_back(token);
    return token;
}

void OnboardingController::viewShown() {
    poll();
    if (timer_) return;
    std::weak_ptr<OnboardingController> weak = weak_from_this();
    timer_ = ports_.dispatcher.repeating(seconds(POLL_SECONDS), [weak] {
        if (auto self = weak.lock()) self->poll();
    });
}

void OnboardingController::viewHidden() {
    timer_.reset();
}

void OnboardingController::poll() {
    // A key chosen in the menu, or a binding used for the first time.
    if (HotkeyStatus now = readHotkey(); now != hotkey_) {
        hotkey_ = now;
        notify();
    }
    if (ports_.engine) {
        if (EngineState now = ports_.engine(); now != engine_) {
            engine_ = now;
            notify();
        }
    }
    // Never prompts: it only notices permissions granted elsewhere.
    setPermissions(micOK_, ports_.trust.isTrusted(false));
    std::weak_ptr<OnboardingController> weak = weak_from_this();
    ports_.microphone.authorized([weak](bool mic) {
        if (auto self = weak.lock()) self->setPermissions(mic, self->axOK_);
    });
}

void OnboardingController::setPermissions(bool mic, bool ax) {
    if (mic == micOK_ && ax == axOK_) return;
    micOK_ = mic;
    axOK_ = ax;
    notify();
}

void OnboardingController::notify() {
    std::erase_if(observers_, [](const auto& w) { return w.expired(); });
    // Copy: an observer may subscribe or drop its token while being called.
    auto observers = observers_;
    for (const auto& weak : observers) {
        if (auto observer = weak.lock()) (*observer)();
    }
}

}  // namespace zavren
