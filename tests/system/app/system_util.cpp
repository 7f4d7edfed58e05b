#include "system_util.h"

#include <QCoreApplication>

#include "support/run_program.h"
#include "support/wait_for.h"

namespace zavren::systest {

int sh(const std::string& command) {
    return test::runProgram("/bin/sh", {"-c", command}).status;
}

std::string shOut(const std::string& command) {
    std::string out = test::runProgram("/bin/sh", {"-c", command}).out;
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
