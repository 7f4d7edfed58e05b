#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/zavren.h"
#include "dictation/controller.h"
#include "dictation/paste.h"
#include "engine/installer/engine_installer.h"
#include "engine/server_manager.h"
#include "platform/file_chooser.h"
#include "platform/folder_watch.h"
#include "platform/platform.h"
#include "platform/port_owner.h"
#include "setup/setup_windows.h"
#include "shared/app_state.h"
#include "shared/paths.h"
#include "update/app_updater.h"

namespace zavren {

// The adapters the session picked. Platform::windows stays null: the program
// builds its setup windows from the factory.
struct DesktopAdapters {
    Platform platform;
    PortOwners& portOwners;
    FolderWatcher& folderWatcher;
    SetupWindowFactory& windowFactory;
    std::optional<std::string> resourcesDir;
    // The first-run window's choose-files dialogs; none where files cannot be chosen.
    FileChooser* fileChooser = nullptr;
};

// The tray program's object graph over the session's adapters: engine
// supervisor, installer, update check, setup windows, paste sequence, dictation
// controller and the shell that drives them. Lives as long as the event loop.
class DesktopProgram {
  public:
    struct Settings {
        Paths paths;
        // The process environment: where downloads come from.
        std::map<std::string, std::string> env;
        // The running program's absolute path: what the login entry starts.
        std::string program;
    };

    DesktopProgram(DesktopAdapters adapters, AppState& st, Settings settings);
    ~DesktopProgram();
    DesktopProgram(const DesktopProgram&) = delete;
    DesktopProgram& operator=(const DesktopProgram&) = delete;

    // From inside the event loop, so a refused instance can quit it.
    void launch() { shell_->applicationDidFinishLaunching(); }
    void terminate() { shell_->applicationWillTerminate(); }

    Zavren& shell() { return *shell_; }
    DictationController& dictation() { return *controller_; }
    Paster& paster() { return *paster_; }

  private:
    Platform platform_;
    Paths paths_;
    std::string updateBase_;
    std::shared_ptr<ServerManager> server_;
    EngineInstaller installer_;
    AppUpdater updater_;
    SetupWindows windows_;
    std::shared_ptr<PasteSequence> paster_;
    std::shared_ptr<DictationController> controller_;
    std::shared_ptr<Zavren> shell_;
};

}  // namespace zavren
