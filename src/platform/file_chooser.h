#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zavren {

struct FileRequest {
    std::string title;
    // "说明 (pattern …)" entries, the first selected; empty: every file.
    std::vector<std::string> filters;
};

// Lets the user pick one existing file.
class FileChooser {
  public:
    virtual ~FileChooser() = default;
    // Returns at once; `chosen` gets the absolute path, or nothing when the user
    // cancelled, later on the main thread.
    virtual void choose(const FileRequest& request,
                        std::function<void(std::optional<std::string> chosen)> chosen) = 0;
};

}  // namespace zavren
