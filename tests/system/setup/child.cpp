#include "child.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace zavren::systest {

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

std::vector<std::string> flatten(const Env& env) {
    std::vector<std::string> out;
    for (const auto& [k, v] : env) out.push_back(k + "=" + v);
    return out;
}

pid_t spawn(std::vector<std::string> argv, const Env& env, int outFd, int errFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0) posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    if (errFd >= 0) posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    auto envStrings = flatten(env);
    auto args = pointers(argv);
    auto envp = pointers(envStrings);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    return pid;
}

}  // namespace

Env environmentWith(const Env& overrides) {
    Env env;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        auto eq = kv.find('=');
        if (eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (const auto& [k, v] : overrides) env[k] = v;
    return env;
}

Child::Child(const std::vector<std::string>& argv, const Env& env, const std::string& outFile,
             const std::string& errFile) {
    int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    try {
        pid_ = spawn(argv, env, out, err);
    } catch (...) {
        ::close(out);
        ::close(err);
        throw;
    }
    ::close(out);
    ::close(err);
}

Child::Child(Child&& other) noexcept : pid_(other.pid_) {
    other.pid_ = -1;
}

Child& Child::operator=(Child&& other) noexcept {
    if (this != &other) {
        stop();
        pid_ = other.pid_;
        other.pid_ = -1;
    }
    return *this;
}

Child::~Child() {
    stop();
}

bool Child::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

bool Child::stop(std::chrono::milliseconds grace) {
    if (!running()) return true;
    ::kill(pid_, SIGTERM);
    pid_t pid = pid_;
    bool ended = waitFor([&] { return ::waitpid(pid, nullptr, WNOHANG) == pid; }, grace);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    pid_ = -1;
    return ended;
}

std::string capture(const std::vector<std::string>& argv, int* exitCode) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_t pid = spawn(argv, environmentWith({}), fds[1], -1);
    ::close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (pred()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool httpOk(int port, const std::string& path) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    timeval tv{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        std::string req = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (::send(fd, req.data(), req.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(req.size())) {
            char buf[64] = {};
            ssize_t n = ::recv(fd, buf, sizeof buf - 1, 0);
            ok = n > 12 && std::strstr(buf, " 200 ") != nullptr;
        }
    }
    ::close(fd);
    return ok;
}

}  // namespace zavren::systest
