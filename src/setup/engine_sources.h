#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/installer/phase.h"
#include "platform/desktop.h"
#include "platform/dispatch.h"
#include "platform/file_chooser.h"
#include "platform/log.h"

namespace zavren {

struct EngineSourcesPorts {
    FileChooser* files = nullptr;
    SystemLog* log = nullptr;
    std::string engineRoot;
};

// The two ways to an engine besides the download, as the first-run window offers
// them: registering programs and models the user already has (as `zavren engine
// add` does) and installing an engine.json with its archive fetched elsewhere (as
// `zavren engine install --from` does). Either puts an engine into the engine
// folder; the folder's watch starts it. Main thread only.
class EngineSources : public std::enable_shared_from_this<EngineSources> {
  public:
    static std::shared_ptr<EngineSources> create(Dispatcher& dispatcher, Desktop& desktop,
                                                 EngineSourcesPorts ports);
    EngineSources(Dispatcher& dispatcher, Desktop& desktop, EngineSourcesPorts ports);

    // Asks for the kind of engine, then its files one by one.
    void useExisting();
    // Asks for engine.json, then checks and unpacks the archive beside it.
    void installFromFile();

    // The install from files: nothing until one is asked for, and again once
    // forgotten (when the user turns to the download instead).
    const std::optional<InstallPhase>& phase() const { return phase_; }
    void forget();
    bool available() const { return ports_.files != nullptr; }

    // Runs after each change of phase().
    std::function<void()> onChange;

  private:
    struct Step {
        std::string title;
        std::vector<std::string> filters;
    };
    using Register = std::function<void(const std::vector<std::string>& paths)>;
    void askKind();
    void ask(std::vector<Step> steps, std::vector<std::string> chosen, Register done);
    void registerLinks(const std::string& kind, const std::vector<std::string>& paths);
    void install(const std::string& manifest);
    void setPhase(std::optional<InstallPhase> phase);
    void tell(const std::string& message, const std::string& informative);
    void log(const std::string& line);

    Dispatcher& dispatcher_;
    Desktop& desktop_;
    EngineSourcesPorts ports_;
    std::optional<InstallPhase> phase_;
    bool asking_ = false;  // one dialogue chain at a time
};

}  // namespace zavren
