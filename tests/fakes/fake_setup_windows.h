#pragma once

#include <memory>
#include <string>
#include <vector>

#include "setup/window_port.h"

namespace zavren::fakes {

using WindowEvents = std::vector<std::string>;

struct FakeWindow : SetupWindow {
    FakeWindow(std::string n, WindowEvents& e) : name(std::move(n)), events(e) {}
    ~FakeWindow() override { events.push_back("release:" + name); }
    void show() override { events.push_back("show:" + name); }
    void hide() override { events.push_back("hide:" + name); }
    std::string name;
    WindowEvents& events;
};

// Makes windows, noting each; keeps what the real windows would get.
struct FakeFactory : SetupWindowFactory {
    WindowEvents events;
    std::shared_ptr<OnboardingController> controller;
    AboutActions about;
    std::function<void()> copyPage;
    std::unique_ptr<SetupWindow> make(const std::string& name, const std::string& detail = "") {
        events.push_back("make:" + name + detail);
        return std::make_unique<FakeWindow>(name, events);
    }
    std::unique_ptr<SetupWindow> makeOnboarding(std::shared_ptr<OnboardingController> c) override {
        controller = std::move(c);
        return make("onboarding");
    }
    std::unique_ptr<SetupWindow> makeAbout(const AboutModel& m, AboutActions a) override {
        about = std::move(a);
        return make("about", " " + m.versionLine.text);
    }
    std::unique_ptr<SetupWindow> makePrivacy(const PrivacyModel&,
                                             std::function<void()> copy) override {
        copyPage = std::move(copy);
        return make("privacy");
    }
};

}  // namespace zavren::fakes
