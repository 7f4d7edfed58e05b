#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/wait_for.h"

extern char** environ;

namespace zavren::test {

struct ProgramResult {
    int status = -1;  // exit status; 128 + n after signal n
    std::string out, err;
};

// The variables that put every folder of the program under root, as Paths::under does.
inline std::map<std::string, std::string> homeVars(const std::string& root) {
    return {{"HOME", root},
            {"XDG_DATA_HOME", root + "/data"},
            {"XDG_CONFIG_HOME", root + "/config"},
            {"XDG_STATE_HOME", root + "/state"},
            {"XDG_CACHE_HOME", root + "/cache"},
            {"XDG_RUNTIME_DIR", root + "/run"}};
}

// This environment with `vars` laid over it, as execve takes it.
inline std::vector<std::string> environmentWith(const std::map<std::string, std::string>& vars) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string s(*e);
        env[s.substr(0, s.find('='))] = s.substr(s.find('=') + 1);
    }
    for (const auto& [k, v] : vars) env[k] = v;
    std::vector<std::string> flat;
    for (const auto& [k, v] : env) flat.push_back(k + "=" + v);
    return flat;
}

// Starts argv[0] with these variables and its standard streams on the files named
// (err may be out); the child's pid.
inline pid_t spawn(std::vector<std::string> argv, const std::map<std::string, std::string>& vars,
                   const std::string& in, const std::string& out, const std::string& err) {
    std::vector<std::string> env = environmentWith(vars);
    std::vector<char*> cargv, cenv;
    for (auto& a : argv) cargv.push_back(a.data());
    for (auto& e : env) cenv.push_back(e.data());
    cargv.push_back(nullptr);
    cenv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::open(in.c_str(), O_RDONLY), 0);
        ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        ::dup2(err == out ? 1 : ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        ::execve(argv[0].c_str(), cargv.data(), cenv.data());
        ::_exit(127);
    }
    return pid;
}

inline int exitStatus(int st) {
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

// Runs a program to its end with these variables laid over this environment and
// `input` on its standard input; its output is captured whole.
inline ProgramResult runProgram(const std::string& exe, const std::vector<std::string>& args,
                                const std::map<std::string, std::string>& vars = {},
                                const std::string& input = {}) {
    TempDir io;
    std::ofstream(io / "in", std::ios::binary) << input;
    std::vector<std::string> argv{exe};
    argv.insert(argv.end(), args.begin(), args.end());
    int st = 0;
    ::waitpid(spawn(argv, vars, io / "in", io / "out", io / "err"), &st, 0);
    auto slurp = [](const std::string& p) {
        std::ostringstream s;
        s << std::ifstream(p, std::ios::binary).rdbuf();
        return s.str();
    };
    return {exitStatus(st), slurp(io / "out"), slurp(io / "err")};
}

// A program left running with its output in files, ended with SIGTERM (then SIGKILL
// after `patience`) when it goes out of scope, unless stopped before.
struct Background {
    pid_t pid;
    Background(const std::vector<std::string>& argv, const std::string& out, const std::string& err,
               const std::map<std::string, std::string>& vars = {})
        : pid(spawn(argv, vars, "/dev/null", out, err)) {}
    ~Background() { stop(); }
    // The exit status; -1 when it had to be killed or was stopped before.
    int stop(std::chrono::milliseconds patience = std::chrono::seconds(10)) {
        const pid_t p = std::exchange(pid, -1);
        int st = 0;
        if (p <= 0) return -1;
        ::kill(p, SIGTERM);
        if (waitFor([&] { return ::waitpid(p, &st, WNOHANG) == p; }, patience))
            return exitStatus(st);
        ::kill(p, SIGKILL);
        ::waitpid(p, &st, 0);
        return -1;
    }
};

}  // namespace zavren::test
