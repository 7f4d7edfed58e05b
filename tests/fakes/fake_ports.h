#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "dictation/paste.h"
#include "platform/defaults.h"
#include "platform/desktop.h"
#include "platform/input.h"
#include "platform/lifecycle.h"
#include "platform/log.h"
#include "platform/pasteboard.h"
#include "platform/port_owner.h"
#include "platform/ui.h"

namespace zavren::fakes {

class FakeDefaults : public Defaults {
  public:
    using Value = std::variant<bool, std::string, int>;
    std::map<std::string, Value> values;

    template <class T>
    std::optional<T> get(const std::string& key) const {
        auto it = values.find(key);
        if (it == values.end() || !std::holds_alternative<T>(it->second)) return std::nullopt;
        return std::get<T>(it->second);
    }
    std::optional<bool> boolValue(const std::string& key) override { return get<bool>(key); }
    std::optional<std::string> stringValue(const std::string& key) override {
        return get<std::string>(key);
    }
    void setBool(const std::string& key, bool value) override { values[key] = value; }
    void setString(const std::string& key, const std::string& v) override { values[key] = v; }
};

class FakeLog : public SystemLog {
  public:
    std::vector<std::string> lines;
    void line(const std::string& text) override { lines.push_back(text); }
    std::size_t countStartingWith(const std::string& prefix) const {
        std::size_t n = 0;
        for (const auto& l : lines) n += l.rfind(prefix, 0) == 0 ? 1u : 0u;
        return n;
    }
};

// The clipboard as formats; fetched() plays the focused application reading it.
class FakePasteboard : public Pasteboard {
  public:
    Formats contents;
    Content content = Content::restored;  // what the last set() was marked as
    std::optional<std::string> primary;   // set only where primary is true
    bool primaryAvailable = false;
    std::function<void()> fetchedHandler;

    std::vector<std::string> types() override {
        std::vector<std::string> t;
        for (const auto& [type, bytes] : contents) t.push_back(type);
        return t;
    }
    std::optional<std::string> data(const std::string& type) override {
        ++reads;
        auto it = contents.find(type);
        if (it == contents.end()) return std::nullopt;
        return it->second;
    }
    std::uint64_t changes = 0;  // bumped by set(); a test bumps it for another application's copy
    int reads = 0;
    std::optional<std::uint64_t> changeCount() override { return changes; }
    void set(const Formats& formats, Content what) override {
        ++changes;
        contents = formats;
        content = what;
        if (onSet) onSet(what);
    }
    std::function<void(Content)> onSet;
    bool hasPrimary() override { return primaryAvailable; }
    void setPrimary(const std::string& text) override { primary = text; }
    void onFetched(std::function<void()> handler) override { fetchedHandler = std::move(handler); }
    void fetched() {
        if (fetchedHandler) fetchedHandler();
    }
    // A helper that wins the selection a while after set(): offered() says it did.
    bool late = false;
    std::function<void()> offeredHandler;
    bool offersLater() override { return late; }
    void onOffered(std::function<void()> handler) override { offeredHandler = std::move(handler); }
    void offered() {
        if (offeredHandler) offeredHandler();
    }
};

class FakeKeySynthesizer : public KeySynthesizer {
  public:
    int pastes = 0;
    std::vector<std::string> app;  // the focused application's names
    std::optional<PasteKeys> lastKeys;
    std::function<void()> onPaste;  // lets a test look at the pasteboard at that moment
    std::vector<std::string> focusedApp() override { return app; }
    void postPaste(PasteKeys keys) override {
        ++pastes;
        lastKeys = keys;
        if (onPaste) onPaste();
    }
};

// Answers each paste at once with the outcome set.
class FakePaster : public Paster {
  public:
    std::vector<std::string> pasted;
    Outcome outcome = Outcome::typed;
    void paste(const std::string& text, Done done) override {
        pasted.push_back(text);
        if (done) done(outcome);
    }
};

class FakeTrust : public AccessibilityTrust {
  public:
    bool trusted = true;
    int prompts = 0;
    bool isTrusted(bool prompt) override {
        if (prompt) ++prompts;
        return trusted;
    }
};

class FakeMicrophone : public MicrophoneAccess {
  public:
    bool granted = true;
    // Answers at once, as if the main thread had the answer already.
    void authorized(std::function<void(bool)> answer) override { answer(granted); }
    void request(std::function<void(bool)> done) override { authorized(std::move(done)); }
};

class FakeHotkeyMonitor : public HotkeyMonitor {
  public:
    std::function<void(HotkeyEvent)> handler;
    std::optional<HotkeyKey> chosen;
    std::optional<HotkeySources> reach;
    void install(std::function<void(HotkeyEvent)> h) override { handler = std::move(h); }
    void choose(HotkeyKey key) override { chosen = key; }
    std::optional<HotkeySources> sources() const override { return reach; }
};

class FakePortOwners : public PortOwners {
  public:
    ListenerOwner listener = ListenerOwner::us;
    ListenerOwner owner(int) override { return listener; }
};

class FakeDesktop : public Desktop {
  public:
    std::vector<std::string> openedFiles;
    bool filesOpen = true;  // whether an application takes a file
    std::vector<Alert> alerts;
    std::deque<int> alertAnswers;  // consumed in order; -1 when empty
    int activations = 0;
    int settingsOpened = 0;

    // The default application for text: a plain editor unless a test says otherwise.
    std::optional<DesktopHandler> textHandler =
        DesktopHandler{"editor.desktop", "[Desktop Entry]\nCategories=Utility;TextEditor;\n"};

    void defaultHandler(const std::string&,
                        std::function<void(std::optional<DesktopHandler>)> answer) override {
        answer(textHandler);
    }
    void openFile(const std::string& path, std::function<void(bool)> opened) override {
        openedFiles.push_back(path);
        if (opened) opened(filesOpen);
    }
    void activate() override { ++activations; }
    void showAlert(const Alert& alert, std::function<void(int)> answered) override {
        alerts.push_back(alert);
        const int a = alertAnswers.empty() ? -1 : alertAnswers.front();
        if (!alertAnswers.empty()) alertAnswers.pop_front();
        if (answered) answered(a);
    }
    void openAccessibilitySettings() override { ++settingsOpened; }
};

class FakePanel : public IndicatorPanel {
  public:
    bool visible = false;
    void show() override { visible = true; }
    void hide() override { visible = false; }
};

class FakeStatusItem : public StatusItem {
  public:
    std::optional<StatusIcon> icon;  // present once shown
    std::function<std::vector<MenuItem>()> build;

    void show(const StatusIcon& i) override { icon = i; }
    void setIcon(const StatusIcon& i) override { icon = i; }
    void setMenu(std::function<std::vector<MenuItem>()> b) override { build = std::move(b); }
    // Opens the menu as the user would: a fresh build every time.
    std::vector<MenuItem> open() const { return build ? build() : std::vector<MenuItem>{}; }
};

// Records calls as "onboarding", "closeOnboarding", "about:<version or ->", "privacy".
class FakeSetupWindows : public SetupWindowsPort {
  public:
    std::vector<std::string> calls;
    InstallerHandle* installer = nullptr;
    void showOnboarding(InstallerHandle& i) override {
        installer = &i;
        calls.push_back("onboarding");
    }
    void closeOnboarding() override { calls.push_back("closeOnboarding"); }
    void showAbout(std::optional<std::string> v) override {
        calls.push_back("about:" + v.value_or("-"));
    }
    void showPrivacy() override { calls.push_back("privacy"); }
};

class FakeInstanceLock : public InstanceLock {
  public:
    std::vector<int> others;  // holders reported; the lock is free while empty
    Result acquire() override { return {others.empty(), others}; }
};

class FakeApplication : public Application {
  public:
    int terminations = 0;
    std::optional<int> exitStatus;
    std::function<void()> sigterm;
    void terminate() override { ++terminations; }
    void onSigterm(std::function<void()> h) override { sigterm = std::move(h); }
    void exitNow(int status) override { exitStatus = status; }
};

}  // namespace zavren::fakes
