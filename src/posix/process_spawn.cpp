#include "posix/process_spawn.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <vector>

namespace zavren::process_detail {

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (auto& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attr);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

pid_t spawn(const ProcessSpec& spec, std::string& error) {
    std::vector<std::string> argStrings{spec.exec};
    argStrings.insert(argStrings.end(), spec.args.begin(), spec.args.end());
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : spec.env) envStrings.push_back(k + "=" + v);
    auto argv = pointers(argStrings);
    auto envp = pointers(envStrings);

    SpawnSetup s;
    if (spec.outputFd >= 0) {
        posix_spawn_file_actions_adddup2(&s.actions, spec.outputFd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&s.actions, spec.outputFd, STDERR_FILENO);
    }
    // Descriptors opened elsewhere in this program without O_CLOEXEC must not leak
    // into a long-lived engine (it would keep sockets and files open).
    posix_spawn_file_actions_addclosefrom_np(&s.actions, 3);

    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&s.attr, &none);
    posix_spawnattr_setsigdefault(&s.attr, &all);
    posix_spawnattr_setflags(&s.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    int rc = posix_spawn(&pid, spec.exec.c_str(), &s.actions, &s.attr, argv.data(), envp.data());
    if (rc != 0) {
        error = "无法运行 " + spec.exec + ": " + std::strerror(rc);
        return -1;
    }
    return pid;
}

int statusFromWait(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return WTERMSIG(waitStatus);
    return -1;
}

}  // namespace zavren::process_detail
