#include "qt/system_log.h"

#include <syslog.h>

#include <cstdio>
#include <mutex>

namespace zavren {

StderrSyslog::StderrSyslog() {
    ::openlog("zavren", LOG_PID, LOG_USER);
}

StderrSyslog::~StderrSyslog() {
    ::closelog();
}

void StderrSyslog::line(const std::string& text) {
    // Lines come from several threads; keep them whole.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    ::syslog(LOG_NOTICE, "%s", text.c_str());
}

}  // namespace zavren
