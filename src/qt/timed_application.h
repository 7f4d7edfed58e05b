#pragma once

#include <QApplication>

namespace zavren {

// The application object, timing every main-thread event while the trace is on:
// each that runs 1 ms or longer leaves a "main-task <microseconds> <event type>"
// mark, so a bench can find the longest. An event loop nested inside one counts
// as part of the outer event.
class TimedApplication : public QApplication {
  public:
    TimedApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override;

  private:
    int depth_ = 0;
};

}  // namespace zavren
