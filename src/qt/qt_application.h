#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

#include "platform/lifecycle.h"

namespace zavren {

// The QApplication seen through the core's port. SIGTERM reaches the main thread
// through a self-pipe: the signal handler only writes a byte.
class QtApplication : public Application {
  public:
    QtApplication();
    ~QtApplication() override;

    void terminate() override;
    void onSigterm(std::function<void()> handler) override;
    void exitNow(int status) override;

  private:
    std::function<void()> handler_;
    std::unique_ptr<QSocketNotifier> notifier_;
    int pipe_[2] = {-1, -1};
};

}  // namespace zavren
