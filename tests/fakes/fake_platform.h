#pragma once

#include "fakes/fake_dispatcher.h"
#include "fakes/fake_http.h"
#include "fakes/fake_ports.h"
#include "fakes/fake_process.h"
#include "fakes/fake_recorder.h"
#include "platform/platform.h"

namespace zavren::fakes {

// Every port of the program as a fake, for the tests of its wiring.
struct FakePlatform {
    FakeDispatcher d;
    FakeHttpClient http{d};
    FakeProcessLauncher procs;
    FakeAudioRecorderFactory recorders;
    FakeHotkeyMonitor hotkey;
    FakeKeySynthesizer keys;
    FakeTrust trust;
    FakeMicrophone mic;
    FakePasteboard pasteboard;
    FakeDefaults defaults;
    FakeLog log;
    FakeDesktop desktop;
    FakePanel panel;
    FakeStatusItem statusItem;
    FakeSetupWindows windows;
    FakeInstanceLock lock;
    FakeApplication application;
    FakePortOwners owners;
    Platform platform{&d,     &http,       &procs,      &recorders, &hotkey,     &keys,
                      &trust, &mic,        &pasteboard, &defaults,  &log,        &desktop,
                      &panel, &statusItem, &windows,    &lock,      &application};
};

}  // namespace zavren::fakes
