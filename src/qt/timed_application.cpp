#include "qt/timed_application.h"

#include <QThread>
#include <chrono>

#include "shared/trace.h"

namespace zavren {

bool TimedApplication::notify(QObject* receiver, QEvent* event) {
    if (!trace::enabled() || QThread::currentThread() != thread())
        return QApplication::notify(receiver, event);
    const int type = event->type();
    const auto start = std::chrono::steady_clock::now();
    ++depth_;
    const bool handled = QApplication::notify(receiver, event);
    --depth_;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    if (depth_ == 0 && us >= 1000) {
        trace::mark("main-task", static_cast<long long>(us));
        trace::mark("main-task-event", type);
    }
    return handled;
}

}  // namespace zavren
