#include "qt/qt_application.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace zavren {

namespace {

volatile sig_atomic_t g_writeFd = -1;

void onSignal(int) {
    const int saved = errno;
    if (g_writeFd >= 0) {
        char c = 1;
        [[maybe_unused]] ssize_t n = ::write(g_writeFd, &c, 1);
    }
    errno = saved;
}

}  // namespace

QtApplication::QtApplication() = default;

QtApplication::~QtApplication() {
    if (pipe_[0] >= 0) {
        struct sigaction sa {};
        sa.sa_handler = SIG_IGN;
        sigaction(SIGTERM, &sa, nullptr);
        g_writeFd = -1;
        notifier_.reset();
        ::close(pipe_[0]);
        ::close(pipe_[1]);
    }
}

void QtApplication::terminate() {
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
}

void QtApplication::onSigterm(std::function<void()> handler) {
    handler_ = std::move(handler);
    if (pipe_[0] >= 0) return;
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
    g_writeFd = pipe_[1];
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
        char buf[16];
        while (::read(pipe_[0], buf, sizeof buf) > 0) {
        }
        if (handler_) handler_();
    });
    // The default action no longer ends the process; the handler above decides.
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
}

void QtApplication::exitNow(int status) {
    std::fflush(nullptr);
    ::_exit(status);
}

}  // namespace zavren
