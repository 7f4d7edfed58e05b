#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace zavren::test {

struct ProgramResult {
    int status = -1;  // exit status; 128 + n after signal n
    std::string out, err;
};

// Runs a program to its end with these variables laid over this environment and
// `input` on its standard input; its output is captured whole.
inline ProgramResult runProgram(const std::string& exe, const std::vector<std::string>& args,
                                const std::map<std::string, std::string>& vars = {},
                                const std::string& input = {}) {
    TempDir io;
    std::ofstream(io / "in", std::ios::binary) << input;
    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string s(*e);
        env[s.substr(0, s.find('='))] = s.substr(s.find('=') + 1);
    }
    for (const auto& [k, v] : vars) env[k] = v;
    std::vector<std::string> flat, argv{exe};
    for (const auto& [k, v] : env) flat.push_back(k + "=" + v);
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv, cenv;
    for (auto& a : argv) cargv.push_back(a.data());
    for (auto& e : flat) cenv.push_back(e.data());
    cargv.push_back(nullptr);
    cenv.push_back(nullptr);
    const std::string paths[] = {io / "in", io / "out", io / "err"};
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (int fd = 0; fd < 3; ++fd) {
            int f = ::open(paths[fd].c_str(), fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT, 0600);
            ::dup2(f, fd);
        }
        ::execve(exe.c_str(), cargv.data(), cenv.data());
        ::_exit(127);
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    auto slurp = [](const std::string& p) {
        std::ostringstream s;
        s << std::ifstream(p, std::ios::binary).rdbuf();
        return s.str();
    };
    return {WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st), slurp(paths[1]), slurp(paths[2])};
}

}  // namespace zavren::test
