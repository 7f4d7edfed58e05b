#pragma once

#include <functional>
#include <optional>
#include <string>

#include "engine/installer/phase.h"
#include "platform/input.h"
#include "shared/types.h"

namespace zavren {

// What the shell needs of the engine supervisor and the engine locator.
class EngineService {
  public:
    virtual ~EngineService() = default;
    // Whether resolution finds an engine right now (the file system decides).
    virtual bool engineAvailable() = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    // Sets the restart counter to 0, then starts.
    virtual void restart() = 0;
    virtual EngineKind currentKind() const = 0;
    // Runs on the main thread with each new engine state.
    virtual void setOnState(std::function<void(EngineState)> onState) = 0;
    virtual std::optional<std::string> installedVersion() = 0;
    virtual void removeInstalled() = 0;
};

// The engine installer as the shell drives it.
class InstallerService : public InstallerHandle {
  public:
    // Runs on the main thread when an installation has finished.
    virtual void setOnDone(std::function<void()> onDone) = 0;
};

class UpdateService {
  public:
    virtual ~UpdateService() = default;
    virtual void check(bool interactive) = 0;
};

// The dictation controller's entry points the shell uses.
class DictationService {
  public:
    virtual ~DictationService() = default;
    virtual void onFlags(const FlagsEvent& event) = 0;
    virtual bool recording() const = 0;
    virtual void flashHint(const std::string& text, double seconds) = 0;
    virtual bool canRetry() const = 0;
    virtual void retryLast() = 0;
};

// The text normalisation switch and the terms file.
class TextService {
  public:
    virtual ~TextService() = default;
    virtual bool itnEnabled() = 0;
    virtual void toggleItn() = 0;
    virtual void openTerms() = 0;
};

struct Services {
    EngineService* server = nullptr;
    InstallerService* installer = nullptr;
    UpdateService* updater = nullptr;
    DictationService* dictation = nullptr;
    TextService* text = nullptr;
};

}  // namespace zavren
