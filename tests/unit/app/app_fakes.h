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

// Each double notes its call in the journal before doing the fake's work.
struct Journaled {
    Journal& j;
};

struct JournalStatusItem : fakes::FakeStatusItem, Journaled {
    explicit JournalStatusItem(Journal& j) : Journaled{j} {}
    void show(const StatusIcon& i) override {
        j.push_back("statusItem.show");
        FakeStatusItem::show(i);
    }
    void setMenu(std::function<std::vector<MenuItem>()> b) override {
        j.push_back("statusItem.menu");
        FakeStatusItem::setMenu(std::move(b));
    }
};

struct JournalPanel : fakes::FakePanel, Journaled {
    explicit JournalPanel(Journal& j) : Journaled{j} {}
    void setup() override {
        j.push_back("panel.setup");
        FakePanel::setup();
    }
};

struct JournalMicrophone : fakes::FakeMicrophone, Journaled {
    explicit JournalMicrophone(Journal& j) : Journaled{j} {}
    void request(std::function<void(bool)> done) override {
        j.push_back("microphone.request");
        FakeMicrophone::request(std::move(done));
    }
};

struct JournalTrust : fakes::FakeTrust, Journaled {
    explicit JournalTrust(Journal& j) : Journaled{j} {}
    bool isTrusted(bool prompt) override {
        j.push_back(prompt ? "trust.prompt" : "trust.query");
        return FakeTrust::isTrusted(prompt);
    }
};

struct JournalHotkey : fakes::FakeHotkeyMonitor, Journaled {
    explicit JournalHotkey(Journal& j) : Journaled{j} {}
    void install(std::function<void(const FlagsEvent&)> h) override {
        j.push_back("hotkey.install");
        FakeHotkeyMonitor::install(std::move(h));
    }
};

struct JournalWindows : fakes::FakeSetupWindows, Journaled {
    explicit JournalWindows(Journal& j) : Journaled{j} {}
    void showOnboarding(InstallerHandle& i) override {
        j.push_back("windows.onboarding");
        FakeSetupWindows::showOnboarding(i);
    }
    void closeOnboarding() override {
        j.push_back("windows.closeOnboarding");
        FakeSetupWindows::closeOnboarding();
    }
};

struct JournalApplication : fakes::FakeApplication, Journaled {
    explicit JournalApplication(Journal& j) : Journaled{j} {}
    void terminate() override {
        j.push_back("app.terminate");
        FakeApplication::terminate();
    }
    void onSigterm(std::function<void()> h) override {
        j.push_back("app.sigterm");
        FakeApplication::onSigterm(std::move(h));
    }
    void exitNow(int status) override {
        j.push_back("app.exit:" + std::to_string(status));
        FakeApplication::exitNow(status);
    }
};

struct FakeEngineService : EngineService, Journaled {
    explicit FakeEngineService(Journal& j) : Journaled{j} {}
    bool available = true;
    EngineKind kind = EngineKind::python;
    int restarts = 3;
    std::optional<std::string> version = "1.0.0";
    std::function<void(EngineState)> onState;

    bool engineAvailable() override {
        j.push_back("server.resolve");
        return available;
    }
    void start() override { j.push_back("server.start"); }
    void stop() override { j.push_back("server.stop"); }
    void restart() override {
        j.push_back("server.restart");
        restarts = 0;
    }
    EngineKind currentKind() const override { return kind; }
    void setOnState(std::function<void(EngineState)> cb) override {
        j.push_back("server.onState");
        onState = std::move(cb);
    }
    std::optional<std::string> installedVersion() override { return version; }
    void removeInstalled() override {
        j.push_back("server.removeInstalled");
        available = false;
    }
};

struct FakeInstallerService : InstallerService, Journaled {
    explicit FakeInstallerService(Journal& j) : Journaled{j} {}
    std::function<void()> onDone;
    const InstallPhase& phase() const override { return phase_; }
    Subscription subscribe(std::function<void()>) override { return std::make_shared<int>(0); }
    void start() override { j.push_back("installer.start"); }
    void setOnDone(std::function<void()> cb) override {
        j.push_back("installer.onDone");
        onDone = std::move(cb);
    }

    InstallPhase phase_;
};

struct FakeUpdateService : UpdateService, Journaled {
    explicit FakeUpdateService(Journal& j) : Journaled{j} {}
    void check(bool interactive) override {
        j.push_back(interactive ? "update.check:interactive" : "update.check:silent");
    }
};

struct FakeDictationService : DictationService, Journaled {
    explicit FakeDictationService(Journal& j) : Journaled{j} {}
    bool isRecording = false;
    std::vector<FlagsEvent> events;
    std::vector<std::pair<std::string, double>> hints;
    void onFlags(const FlagsEvent& e) override { events.push_back(e); }
    bool recording() const override { return isRecording; }
    void flashHint(const std::string& text, double s) override {
        j.push_back("dictation.hint");
        hints.emplace_back(text, s);
    }
    bool canRetry() const override { return false; }
    void retryLast() override {}
};

struct FakeTextService : TextService, Journaled {
    FakeTextService(fakes::FakeDefaults& d, Journal& j) : Journaled{j}, defaults_(d) {}
    bool itnEnabled() override { return defaults_.boolValue("zavren.itn.enabled").value_or(true); }
    void toggleItn() override { defaults_.setBool("zavren.itn.enabled", !itnEnabled()); }
    void openTerms() override { j.push_back("text.openTerms"); }

    fakes::FakeDefaults& defaults_;
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
    Platform platform{.dispatcher = &dispatcher,
                      .hotkey = &hotkey,
                      .trust = &trust,
                      .microphone = &microphone,
                      .defaults = &defaults,
                      .log = &log,
                      .desktop = &desktop,
                      .panel = &panel,
                      .statusItem = &statusItem,
                      .windows = &windows,
                      .instanceLock = &lock,
                      .application = &application};

    Services services() { return Services{&server, &installer, &updater, &dictation, &text}; }
};

}  // namespace zavren::testing
