#include "qt/qt_dispatcher.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <atomic>

namespace zavren {

namespace {

int toMs(Duration d) {
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    if (ms < 0) return 0;
    if (ms > INT32_MAX) return INT32_MAX;
    return static_cast<int>(ms);
}

class QtTimer : public Timer {
  public:
    explicit QtTimer(QTimer* timer) : timer_(timer) {}
    ~QtTimer() override { cancel(); }
    void cancel() override {
        if (!timer_) return;
        QTimer* t = timer_;
        timer_ = nullptr;
        if (QThread::currentThread() == t->thread()) {
            t->stop();
            delete t;
        } else {
            QMetaObject::invokeMethod(
                t, [t] { delete t; }, Qt::QueuedConnection);
        }
    }

  private:
    QPointer<QTimer> timer_;
};

}  // namespace

QtDispatcher::QtDispatcher() : context_(new QObject) {
    if (auto* app = QCoreApplication::instance()) context_->moveToThread(app->thread());
    pool_.setMaxThreadCount(4);
    // Idle workers leave quickly, so an idle program keeps no extra threads around.
    pool_.setExpiryTimeout(5000);
}

QtDispatcher::~QtDispatcher() {
    drainBackground();
    delete context_;
}

void QtDispatcher::post(Task task) {
    QMetaObject::invokeMethod(context_, std::move(task), Qt::QueuedConnection);
}

void QtDispatcher::postAfter(Duration delay, Task task) {
    auto arm = [this, delay, task = std::move(task)]() mutable {
        QTimer::singleShot(toMs(delay), Qt::PreciseTimer, context_, std::move(task));
    };
    if (QThread::currentThread() == context_->thread()) {
        arm();
    } else {
        post(std::move(arm));
    }
}

std::unique_ptr<Timer> QtDispatcher::repeating(Duration interval, Task task) {
    auto* timer = new QTimer;
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(toMs(interval));
    QObject::connect(timer, &QTimer::timeout, timer, std::move(task));
    if (QThread::currentThread() == context_->thread()) {
        timer->start();
    } else {
        timer->moveToThread(context_->thread());
        QMetaObject::invokeMethod(timer, qOverload<>(&QTimer::start), Qt::QueuedConnection);
    }
    return std::make_unique<QtTimer>(timer);
}

void QtDispatcher::background(Task task) {
    pool_.start(std::move(task));
}

void QtDispatcher::backgroundAfter(Duration delay, Task task) {
    postAfter(delay, [this, task = std::move(task)]() mutable { background(std::move(task)); });
}

TimePoint QtDispatcher::now() const {
    return std::chrono::steady_clock::now();
}

void QtDispatcher::drainBackground() {
    pool_.waitForDone();
}

}  // namespace zavren
