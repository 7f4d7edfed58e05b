#pragma once

#include <QObject>
#include <QThreadPool>

#include "platform/dispatch.h"

namespace zavren {

// The main queue is the GUI thread's event loop. post() is safe from any thread;
// postAfter() and repeating() from any thread too (they hop to the GUI thread
// first, since a QTimer belongs to the thread that starts it).
class QtDispatcher : public Dispatcher {
  public:
    QtDispatcher();
    ~QtDispatcher() override;

    void post(Task task) override;
    void postAfter(Duration delay, Task task) override;
    std::unique_ptr<Timer> repeating(Duration interval, Task task) override;
    void background(Task task) override;
    void backgroundAfter(Duration delay, Task task) override;
    TimePoint now() const override;

    // Waits for background work to finish (at shutdown).
    void drainBackground();

  private:
    QObject* context_;  // lives on the GUI thread; posted work dies with it
    QThreadPool pool_;
};

}  // namespace zavren
