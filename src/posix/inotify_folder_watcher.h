#pragma once

#include "platform/folder_watch.h"

namespace zavren {

// inotify on the folder and on its parent, so the folder being removed and made
// anew (a reinstall) is followed too. One thread per watch.
class InotifyFolderWatcher : public FolderWatcher {
  public:
    std::unique_ptr<FolderWatch> watch(const std::string& dir,
                                       std::function<void()> onChange) override;
};

}  // namespace zavren
