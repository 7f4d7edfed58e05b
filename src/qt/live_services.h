#pragma once

#include <memory>

#include "app/services.h"
#include "dictation/controller.h"
#include "engine/installer/engine_installer.h"
#include "engine/server_manager.h"
#include "platform/platform.h"
#include "shared/paths.h"
#include "update/app_updater.h"
#include "windows/setup_windows.h"

namespace zavren {

// The real subsystems seen through the shell's service interfaces.

class LiveEngineService : public EngineService {
  public:
    LiveEngineService(std::shared_ptr<ServerManager> server, std::string engineRoot)
        : server_(std::move(server)), root_(std::move(engineRoot)) {}
    bool engineAvailable() override;
    void start() override;
    void stop() override;
    void restart() override;
    EngineKind currentKind() const override;
    void setOnState(std::function<void(EngineState)> onState) override;
    std::optional<std::string> installedVersion() override;
    void removeInstalled() override;

  private:
    std::shared_ptr<ServerManager> server_;
    std::string root_;
};

class LiveInstallerService : public InstallerService {
  public:
    explicit LiveInstallerService(EngineInstaller& installer) : installer_(installer) {}
    const InstallPhase& phase() const override { return installer_.phase(); }
    Subscription subscribe(std::function<void()> observer) override {
        return installer_.subscribe(std::move(observer));
    }
    void start() override { installer_.start(); }
    void setOnDone(std::function<void()> onDone) override { installer_.onDone = std::move(onDone); }
    EngineInstaller& installer() { return installer_; }

  private:
    EngineInstaller& installer_;
};

class LiveUpdateService : public UpdateService {
  public:
    explicit LiveUpdateService(AppUpdater& updater) : updater_(updater) {}
    void check(bool interactive) override { updater_.check(interactive); }

  private:
    AppUpdater& updater_;
};

class LiveDictationService : public DictationService {
  public:
    explicit LiveDictationService(std::shared_ptr<DictationController> c) : c_(std::move(c)) {}
    void onFlags(const FlagsEvent& event) override { c_->onFlags(event); }
    bool recording() const override { return c_->recording(); }
    void flashHint(const std::string& text, double seconds) override {
        c_->flashHint(text, seconds);
    }
    bool canRetry() const override { return c_->canRetry(); }
    void retryLast() override { c_->retryLast(); }

  private:
    std::shared_ptr<DictationController> c_;
};

class LiveTextService : public TextService {
  public:
    LiveTextService(Defaults& defaults, Desktop& desktop, std::string termsFile)
        : defaults_(defaults), desktop_(desktop), termsFile_(std::move(termsFile)) {}
    bool itnEnabled() override;
    void toggleItn() override;
    void openTerms() override;

  private:
    Defaults& defaults_;
    Desktop& desktop_;
    std::string termsFile_;
};

// The window manager behind the shell's window port. The installer the first-run
// window is given is the one the window manager keeps.
class LiveSetupWindows : public SetupWindowsPort {
  public:
    explicit LiveSetupWindows(SetupWindows& windows) : windows_(windows) {}
    void showOnboarding(InstallerHandle& installer) override { windows_.showOnboarding(installer); }
    void closeOnboarding() override { windows_.closeOnboarding(); }
    void showAbout(std::optional<std::string> v) override { windows_.showAbout(v); }
    void showPrivacy() override { windows_.showPrivacy(); }

  private:
    SetupWindows& windows_;
};

}  // namespace zavren
