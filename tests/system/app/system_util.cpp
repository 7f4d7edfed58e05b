#include "system_util.h"

#include <QCoreApplication>
#include <cstdio>

#include "support/wait_for.h"

namespace zavren::systest {

int sh(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string shOut(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    return test::waitFor(
        [&] {
            if (QCoreApplication::instance())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            return pred();
        },
        timeout);
}

}  // namespace zavren::systest
