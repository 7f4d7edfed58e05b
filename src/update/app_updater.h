#pragma once

#include <memory>
#include <string>

#include "platform/defaults.h"
#include "platform/desktop.h"
#include "platform/dispatch.h"
#include "platform/http.h"
#include "platform/pasteboard.h"
#include "update/app_latest.h"

namespace zavren {

inline const std::string SKIPPED_VERSION_KEY = "zavren.update.skipped";
inline constexpr Duration UPDATE_IDLE_TIMEOUT = seconds(15);
// A trickling or endless server must not hold the check or its memory.
inline constexpr Duration UPDATE_DEADLINE = seconds(30);
inline constexpr std::size_t UPDATE_MAX_BYTES = std::size_t{1} << 20;
// Longer addresses are not shown to the user; the downloads base is instead.
inline constexpr std::size_t UPDATE_MAX_ADDRESS = 2048;

// Checks "latest.json" under the downloads base and offers a newer version.
class AppUpdater {
  public:
    AppUpdater(Dispatcher& dispatcher, HttpClient& http, Desktop& desktop, Pasteboard& pasteboard,
               Defaults& defaults, std::string base);
    AppUpdater(const AppUpdater&) = delete;
    AppUpdater& operator=(const AppUpdater&) = delete;

    // Returns at once; the outcome is shown later on the main thread. A silent check
    // shows only the prompt for a version the user has not skipped.
    void check(bool interactive);

    // The new-version alert and what its answer does: the download address goes on
    // the clipboard, as no browser is ever started.
    void prompt(const AppLatest& latest);

  private:
    static constexpr int DOWNLOAD_BUTTON = 0;
    static constexpr int SKIP_BUTTON = 1;

    void conclude(const std::optional<AppLatest>& latest, bool interactive);
    void tell(const std::string& message, const std::string& informative);

    Dispatcher& dispatcher_;
    HttpClient& http_;
    Desktop& desktop_;
    Pasteboard& pasteboard_;
    Defaults& defaults_;
    std::string base_;
    // Callbacks hold this weakly: nothing happens once the updater is gone.
    std::shared_ptr<AppUpdater*> alive_;
};

}  // namespace zavren
