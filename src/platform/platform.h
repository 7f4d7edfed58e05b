#pragma once

#include "platform/audio.h"
#include "platform/defaults.h"
#include "platform/desktop.h"
#include "platform/dispatch.h"
#include "platform/http.h"
#include "platform/input.h"
#include "platform/lifecycle.h"
#include "platform/log.h"
#include "platform/pasteboard.h"
#include "platform/process.h"
#include "platform/ui.h"

namespace zavren {

// Everything the core may touch of the outside world. main() builds the real one;
// tests build one of fakes. Ports a program does not use may stay null.
struct Platform {
    Dispatcher* dispatcher = nullptr;
    HttpClient* http = nullptr;
    ProcessLauncher* processes = nullptr;
    AudioRecorderFactory* recorders = nullptr;
    HotkeyMonitor* hotkey = nullptr;
    KeySynthesizer* keys = nullptr;
    AccessibilityTrust* trust = nullptr;
    MicrophoneAccess* microphone = nullptr;
    Pasteboard* pasteboard = nullptr;
    Defaults* defaults = nullptr;
    SystemLog* log = nullptr;
    Desktop* desktop = nullptr;
    IndicatorPanel* panel = nullptr;
    StatusItem* statusItem = nullptr;
    SetupWindowsPort* windows = nullptr;
    InstanceLock* instanceLock = nullptr;
    Application* application = nullptr;
};

}  // namespace zavren
