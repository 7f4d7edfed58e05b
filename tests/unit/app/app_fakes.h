#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/services.h"
#include "fakes/fake_dispatcher.h"
#include "fakes/fake_ports.h"
#include "platform/platform.h"
#include "shared/app_state.h"

namespace zavren::testing {

// One ordered record of every call the shell makes, across all doubles.
using Journal = std::vector<std::string>;

class JournalStatusItem : public fakes::FakeStatusItem {
  public:
    explicit JournalStatusItem(Journal& j) : j_(j) {}
    void show(const StatusIcon& i) override {
        j_.push_back("statusItem.show");
        FakeStatusItem::show(i);
    }
    void setMenu(std::function<std::vector<MenuItem>()> b) override {
        j_.push_back("statusItem.menu");
        FakeStatusItem::setMenu(std::move(b));
    }

  private:
    Journal& j_;
};

class JournalPanel : public fakes::FakePanel {
  public:
    explicit JournalPanel(Journal& j) : j_(j) {}
    void setup() override {
        j_.push_back("panel.setup");
        FakePanel::setup();
    }

  private:
    Journal& j_;
};

class JournalMicrophone : public fakes::FakeMicrophone {
  public:
    explicit JournalMicrophone(Journal& j) : j_(j) {}
    void request(std::function<void(bool)> done) override {
        j_.push_back("microphone.request");
        FakeMicrophone::request(std::move(done));
    }

  private:
    Journal& j_;
};

class JournalTrust : public fakes::FakeTrust {
  public:
    explicit JournalTrust(Journal& j) : j_(j) {}
    bool isTrusted(bool prompt) override {
        j_.push_back(prompt ? "trust.prompt" : "trust.query");
        return FakeTrust::isTrusted(prompt);
    }

  private:
    Journal& j_;
};

class JournalHotkey : public fakes::FakeHotkeyMonitor {
  public:
    explicit JournalHotkey(Journal& j) : j_(j) {}
    void install(std::function<void(const FlagsEvent&)> h) override {
        j_.push_back("hotkey.install");
        FakeHotkeyMonitor::install(std::move(h));
    }

  private:
    Journal& j_;
};

class JournalWindows : public fakes::FakeSetupWindows {
  public:
    explicit JournalWindows(Journal& j) : j_(j) {}
    void showOnboarding(InstallerHandle& i) override {
        j_.push_back("windows.onboarding");
        FakeSetupWindows::showOnboarding(i);
    }
    void closeOnboarding() override {
        j_.push_back("windows.closeOnboarding");
        FakeSetupWindows::closeOnboarding();
    }

  private:
    Journal& j_;
};

class JournalApplication : public fakes::FakeApplication {
  public:
    explicit JournalApplication(Journal& j) : j_(j) {}
    void terminate() override {
        j_.push_back("app.terminate");
        FakeApplication::terminate();
    }
    void onSigterm(std::function<void()> h) override {
        j_.push_back("app.sigterm");
        FakeApplication::onSigterm(std::move(h));
    }
    void exitNow(int status) override {
        j_.push_back("app.exit:" + std::to_string(status));
        FakeApplication::exitNow(status);
    }

  private:
    Journal& j_;
};

class FakeEngineService : public EngineService {
  public:
    explicit FakeEngineService(Journal& j) : j_(j) {}
    bool available = true;
    EngineKind kind = EngineKind::python;
    int restarts = 3;
    std::optional<std::string> version = "1.0.0";
    std::function<void(EngineState)> onState;

    bool engineAvailable() override {
        j_.push_back("server.resolve");
        return available;
    }
    void start() override { j_.push_back("server.start"); }
    void stop() override { j_.push_back("server.stop"); }
    void restart() override {
        j_.push_back("server.restart");
        restarts = 0;
    }
    EngineKind currentKind() const override { return kind; }
    void setOnState(std::function<void(EngineState)> cb) override {
        j_.push_back("server.onState");
        onState = std::move(cb);
    }
    std::optional<std::string> installedVersion() override { return version; }
    void removeInstalled() override {
        j_.push_back("server.removeInstalled");
        available = false;
    }

  private:
    Journal& j_;
};

class FakeInstallerService : public InstallerService {
  public:
    explicit FakeInstallerService(Journal& j) : j_(j) {}
    std::function<void()> onDone;
    const InstallPhase& phase() const override { return phase_; }
    Subscription subscribe(std::function<void()>) override { return std::make_shared<int>(0); }
    void start() override { j_.push_back("installer.start"); }
    void setOnDone(std::function<void()> cb) override {
        j_.push_back("installer.onDone");
        onDone = std::move(cb);
    }

  private:
    Journal& j_;
    InstallPhase phase_;
};

class FakeUpdateService : public UpdateService {
  public:
    explicit FakeUpdateService(Journal& j) : j_(j) {}
    void check(bool interactive) override {
        j_.push_back(interactive ? "update.check:interactive" : "update.check:silent");
    }

  private:
    Journal& j_;
};

class FakeDictationService : public DictationService {
  public:
    explicit FakeDictationService(Journal& j) : j_(j) {}
    bool isRecording = false;
    std::vector<FlagsEvent> events;
    std::vector<std::pair<std::string, double>> hints;
    void onFlags(const FlagsEvent& e) override { events.push_back(e); }
    bool recording() const override { return isRecording; }
    void flashHint(const std::string& text, double s) override {
        j_.push_back("dictation.hint");
        hints.emplace_back(text, s);
    }

  private:
    Journal& j_;
};

class FakeTextService : public TextService {
  public:
    explicit FakeTextService(fakes::FakeDefaults& d, Journal& j) : defaults_(d), j_(j) {}
    bool itnEnabled() override { return defaults_.boolValue("zavren.itn.enabled").value_or(true); }
    void toggleItn() override { defaults_.setBool("zavren.itn.enabled", !itnEnabled()); }
    void openTerms() override { j_.push_back("text.openTerms"); }

  private:
    fakes::FakeDefaults& defaults_;
    Journal& j_;
};

// A whole fake world for the shell, every call journaled in order.
struct ShellWorld {
    Journal journal;
    fakes::FakeDispatcher dispatcher;
    fakes::FakeLog log;
    fakes::FakeDefaults defaults;
    fakes::FakeDesktop desktop;
    fakes::FakeInstanceLock lock;
    JournalStatusItem statusItem{journal};
    JournalPanel panel{journal};
    JournalMicrophone microphone{journal};
    JournalTrust trust{journal};
    JournalHotkey hotkey{journal};
    JournalWindows windows{journal};
    JournalApplication application{journal};
    FakeEngineService server{journal};
    FakeInstallerService installer{journal};
    FakeUpdateService updater{journal};
    FakeDictationService dictation{journal};
    FakeTextService text{defaults, journal};
    AppState st;
    Platform platform;

    ShellWorld() {
        platform.dispatcher = &dispatcher;
        platform.log = &log;
        platform.defaults = &defaults;
        platform.desktop = &desktop;
        platform.instanceLock = &lock;
        platform.statusItem = &statusItem;
        platform.panel = &panel;
        platform.microphone = &microphone;
        platform.trust = &trust;
        platform.hotkey = &hotkey;
        platform.windows = &windows;
        platform.application = &application;
    }
    Services services() { return Services{&server, &installer, &updater, &dictation, &text}; }
};

}  // namespace zavren::testing
