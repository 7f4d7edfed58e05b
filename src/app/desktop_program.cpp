#include "app/desktop_program.h"

#include "shared/constants.h"
#include "text/itn.h"
#include "update/update_base.h"

namespace zavren {

namespace {

std::string downloadsBase(const std::map<std::string, std::string>& env, SystemLog& log) {
    const auto given = env.find("ZAVREN_UPDATE_BASE");
    const UpdateBase base = resolveUpdateBase(
        given == env.end() ? std::nullopt : std::optional<std::string>(given->second));
    if (base.warning) log.line(LOG_PREFIX + *base.warning);
    return base.url;
}

}  // namespace

DesktopProgram::DesktopProgram(DesktopAdapters adapters, AppState& st, Settings settings)
    : platform_(adapters.platform),
      paths_(std::move(settings.paths)),
      updateBase_(downloadsBase(settings.env, *platform_.log)),
      server_(ServerManager::create({*platform_.dispatcher, *platform_.http, *platform_.processes,
                                     *platform_.log, adapters.portOwners, paths_})),
      installer_(*platform_.dispatcher, *platform_.http, paths_.engineRoot, updateBase_),
      updater_(*platform_.dispatcher, *platform_.http, *platform_.desktop, *platform_.pasteboard,
               *platform_.defaults, updateBase_),
      windows_({adapters.windowFactory,
                *platform_.desktop,
                *platform_.pasteboard,
                *platform_.dispatcher,
                *platform_.microphone,
                *platform_.trust,
                adapters.resourcesDir,
                [this] { return readHotkeyStatus(*platform_.defaults, *platform_.hotkey); },
                [&st] { return st.engine(); },
                {adapters.fileChooser, platform_.log, paths_.engineRoot}}),
      paster_(PasteSequence::create(*platform_.dispatcher, *platform_.pasteboard, *platform_.keys,
                                    *platform_.trust, *platform_.log)) {
    server_->followEngineFolder(adapters.folderWatcher);
    platform_.windows = &windows_;
    controller_ = DictationController::create({
        .st = st,
        .dispatcher = *platform_.dispatcher,
        .http = *platform_.http,
        .recorders = *platform_.recorders,
        .paster = *paster_,
        .panel = *platform_.panel,
        .wavPath = paths_.wav,
        .termsFile = paths_.termsFile,
        .currentKind = [server = server_] { return server->currentKind(); },
        .polish = [&defaults = *platform_.defaults](
                      std::string text) { return ITN::applyIfEnabled(defaults, text); },
        .engineIsOurs = [server = server_] { return server->confirmOwnListener(); },
        .log = platform_.log,
        .showInstaller = [this] { windows_.showOnboarding(installer_); },
    });
    shell_ = std::make_shared<Zavren>(platform_, paths_, st,
                                      ShellParts{.server = server_,
                                                 .installer = installer_,
                                                 .updater = updater_,
                                                 .dictation = controller_,
                                                 .program = std::move(settings.program)});
}

// The shell and the controller hold callbacks into the parts below them: they go first.
DesktopProgram::~DesktopProgram() {
    shell_.reset();
    controller_.reset();
}

}  // namespace zavren
