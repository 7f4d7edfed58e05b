#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/installer/phase.h"
#include "platform/dispatch.h"
#include "platform/http.h"
#include "platform/process.h"

namespace zavren {

// Brings the engine onto the machine: manifest, resumable download into
// "download.partial" (hashed on the fly), verification, unpacking with tar into
// ".extract-tmp", then one move into the install root. Every failure ends in
// Failed with a sentence for the user; the partial file survives unless it is
// proven useless.
//
// phase(), subscribe(), start() and onDone belong to the main thread. Transfer
// callbacks run on the HTTP thread, the resume scan, verification and tar on the
// background queue; each hands its outcome to the main queue.
// Free bytes for an unprivileged user in the file system holding path.
std::optional<std::int64_t> availableBytes(const std::string& path);

class EngineInstaller : public InstallerHandle {
  public:
    EngineInstaller(Dispatcher& dispatcher, HttpClient& http, ProcessLauncher& launcher,
                    std::string installRoot, std::string downloadsBase);
    ~EngineInstaller() override;
    EngineInstaller(const EngineInstaller&) = delete;
    EngineInstaller& operator=(const EngineInstaller&) = delete;

    const InstallPhase& phase() const override;
    [[nodiscard]] Subscription subscribe(std::function<void()> observer) override;
    void start() override;
    // True from start() until the attempt ends in Done or Failed.
    bool running() const;

    // Called on the main thread right after the phase becomes Done.
    std::function<void()> onDone;
    // Free bytes in the file system holding a folder; none when unknown. Checked
    // before each download, which is refused when the archive and its unpacked
    // engine would not fit.
    std::function<std::optional<std::int64_t>(const std::string& folder)> freeBytes =
        availableBytes;

    // Minimum time between two published download progress values.
    static constexpr Duration PROGRESS_INTERVAL = seconds(0.15);
    // The manifest is small: a server that trickles or floods it is broken.
    static constexpr Duration MANIFEST_DEADLINE = seconds(30);
    static constexpr std::size_t MANIFEST_MAX_BYTES = std::size_t{1} << 20;

    struct Core;

  private:
    std::shared_ptr<Core> core_;
};

// Lists, checks and unpacks a verified engine archive (.tar.gz) into root through
// root/.extract-tmp, replacing an engine of the same name in one move. Nothing
// when it is in place, else a sentence for the user.
std::optional<std::string> unpackEngine(ProcessLauncher& launcher, const std::string& archive,
                                        const std::string& root);

// The tar this system has ("/usr/bin/tar" or "/bin/tar").
std::string systemTar();

}  // namespace zavren
