#include "dictation/portal_hotkey.h"

#include <gtest/gtest.h>

#include "fakes/fake_dispatcher.h"
#include "fakes/fake_ports.h"

namespace zavren {
namespace {

// Global shortcuts as scripted: each answer comes a moment later, or never.
class ScriptedShortcuts : public GlobalShortcutsBus {
  public:
    explicit ScriptedShortcuts(fakes::FakeDispatcher& d) : d_(d) {}
    std::optional<std::optional<unsigned>> version = 1u;
    std::optional<PortalResponse> bindAnswer = PortalResponse::ok;
    std::string trigger;
    std::function<void(const std::string&, const std::string&, bool)> activation;
    std::function<void(const std::string&)> closed;

    void probe(std::function<void(std::optional<unsigned>)> answer) override {
        if (version) d_.post([answer, v = *version] { answer(v); });
    }
    void createSession(std::function<void(PortalResponse, const std::string&)> answer) override {
        d_.post([answer] { answer(PortalResponse::ok, "/s/1"); });
    }
    void bind(const std::string&, const std::string&, const std::string&, const std::string& t,
              std::function<void(PortalResponse)> answer) override {
        trigger = t;
        if (bindAnswer) d_.post([answer, r = *bindAnswer] { answer(r); });
    }
    void onActivation(
        std::function<void(const std::string&, const std::string&, bool)> h) override {
        activation = std::move(h);
    }
    void onClosed(std::function<void(const std::string&)> h) override { closed = std::move(h); }

  private:
    fakes::FakeDispatcher& d_;
};

class PortalHotkey : public ::testing::Test {
  protected:
    fakes::FakeDispatcher dispatcher;
    fakes::FakeHotkeyMonitor devices;
    ScriptedShortcuts bus{dispatcher};
    fakes::FakeLog log;
    std::vector<HotkeyEvent> heard;
    std::shared_ptr<PortalHotkeyMonitor> monitor;

    void SetUp() override { devices.reach = HotkeySources{}; }
    void install() {
        monitor = PortalHotkeyMonitor::create({dispatcher, devices, bus, log});
        monitor->choose(HotkeyKey::f14);
        monitor->install([this](HotkeyEvent e) { heard.push_back(e); });
        dispatcher.runUntilIdle();
    }
    bool viaPortal() { return monitor->sources()->portalShortcut; }
};

using A = HotkeyEvent;

TEST_F(PortalHotkey, TheShortcutHoldsTheKeyAndTheSameKeyFromTheDevicesCountsOnce) {
    install();
    EXPECT_EQ(bus.trigger, "F14");
    EXPECT_EQ(devices.chosen, HotkeyKey::f14);
    ASSERT_TRUE(viaPortal());
    EXPECT_FALSE(hotkeyNeedsSetup(monitor->sources()));
    EXPECT_EQ(hotkeyVia(monitor->sources()), HotkeyVia::portalShortcut);

    bus.activation("/s/1", PortalHotkeyMonitor::SHORTCUT_ID, true);
    devices.handler(HotkeyEvent::press);
    bus.activation("/s/1", "other", false);  // not ours
    bus.activation("/s/1", PortalHotkeyMonitor::SHORTCUT_ID, false);
    devices.handler(HotkeyEvent::release);
    EXPECT_EQ(heard, (std::vector<A>{A::press, A::release}));

    // Closed while held: nobody else would ever release it.
    bus.activation("/s/1", PortalHotkeyMonitor::SHORTCUT_ID, true);
    bus.closed("/s/1");
    EXPECT_EQ(heard, (std::vector<A>{A::press, A::release, A::press, A::release}));
    EXPECT_FALSE(viaPortal());
    bus.activation("/s/1", PortalHotkeyMonitor::SHORTCUT_ID, true);
    EXPECT_EQ(heard.size(), 4u);
}

TEST_F(PortalHotkey, WithoutTheShortcutTheOtherSourcesServe) {
    struct Case {
        const char* name;
        std::optional<std::optional<unsigned>> version;
        std::optional<PortalResponse> bind;
    };
    for (const Case& c : {Case{"no portal", std::optional<unsigned>{}, PortalResponse::ok},
                          Case{"refused", 1u, PortalResponse::cancelled},
                          Case{"bind never answers", 1u, std::nullopt},
                          Case{"probe never answers", std::nullopt, PortalResponse::ok}}) {
        bus.version = c.version;
        bus.bindAnswer = c.bind;
        heard.clear();
        install();
        dispatcher.advance(PortalHotkeyMonitor::BIND_TIMEOUT);
        EXPECT_FALSE(viaPortal()) << c.name;
        if (bus.activation) bus.activation("/s/1", PortalHotkeyMonitor::SHORTCUT_ID, true);
        devices.handler(HotkeyEvent::press);
        devices.handler(HotkeyEvent::release);
        EXPECT_EQ(heard, (std::vector<A>{A::press, A::release})) << c.name;
    }
}

}  // namespace
}  // namespace zavren
