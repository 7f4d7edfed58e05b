#pragma once

#include "platform/file_chooser.h"

namespace zavren {

class QtFileChooser : public FileChooser {
  public:
    void choose(const FileRequest& request,
                std::function<void(std::optional<std::string>)> chosen) override;
};

}  // namespace zavren
