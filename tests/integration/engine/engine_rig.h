#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/server_manager.h"
#include "fakes/fake_ports.h"
#include "posix/curl_http_client.h"
#include "posix/process_launcher.h"
#include "posix/run_loop.h"
#include "shared/constants.h"
#include "unit/engine/engine_layout.h"

namespace zavren::testing {

// The fake engine's path, from the build.
inline std::string fakeEngine() {
#ifdef ZAVREN_FAKE_ENGINE
    return ZAVREN_FAKE_ENGINE;
#else
    return {};
#endif
}

// Whether something accepts connections on the engine port.
inline bool portTaken() {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(PORT));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool taken = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(s);
    return taken;
}

// Engine folders whose programs are links to the fake engine, with the fake's
// behaviour script stored in the model (llama) or script (python) file.
inline void linkLlama(const std::string& dir, const std::string& script = "{}") {
    std::filesystem::create_directories(dir + "/bin");
    std::filesystem::create_symlink(fakeEngine(), dir + "/bin/llama-server");
    writeFile(dir + "/models/qwen3-asr.gguf", script);
    writeFile(dir + "/models/mmproj.gguf");
}

inline void linkPython(const std::string& dir, const std::string& script = "{}") {
    std::filesystem::create_directories(dir + "/python/bin");
    std::filesystem::create_symlink(fakeEngine(), dir + "/python/bin/python3.13");
    writeFile(dir + "/voice_server.py", script);
}

// A supervisor over the real run loop, curl client and processes.
struct EngineRig {
    TempDir tmp;
    Paths paths = Paths::under(tmp.path);
    RunLoopDispatcher loop{2};
    CurlHttpClient http;
    PosixProcessLauncher processes;
    fakes::FakeLog log;  // touched on the loop (test) thread only
    std::vector<EngineState> states;
    std::shared_ptr<ServerManager> server;
    std::vector<std::shared_ptr<ChildProcess>> extras;  // other children a test starts

    EngineRig() {
        server = ServerManager::create({loop, http, processes, log, paths, ""});
        server->onState = [this](EngineState s) { states.push_back(s); };
    }
    ~EngineRig() {
        server->stop();
        if (auto child = server->process())
            loop.runUntil([&] { return !child->isRunning(); }, seconds(4));
        for (auto& c : extras) {
            c->kill();
            loop.runUntil([&] { return !c->isRunning(); }, seconds(4));
        }
    }
    EngineRig(const EngineRig&) = delete;
    EngineRig& operator=(const EngineRig&) = delete;

    std::string engineDir(const std::string& version) const {
        return paths.engineRoot + "/engine-" + version;
    }
    // Runs the loop until a report not yet consumed by an earlier wait is `state`.
    bool waitFor(EngineState state, double timeoutS = 20) {
        return loop.runUntil(
            [&] {
                for (; seen < states.size(); ++seen) {
                    if (states[seen] == state) {
                        ++seen;
                        return true;
                    }
                }
                return false;
            },
            seconds(timeoutS));
    }
    std::size_t seen = 0;
    bool waitStopped(const std::shared_ptr<ChildProcess>& child, double timeoutS = 5) {
        return loop.runUntil([&] { return !child->isRunning(); }, seconds(timeoutS));
    }
};

// Every test that binds the engine port starts from a free port.
#define REQUIRE_FREE_ENGINE_PORT()                                                        \
    do {                                                                                  \
        if (::zavren::testing::fakeEngine().empty()) GTEST_SKIP() << "no fake engine";    \
        for (int i = 0; i < 100 && ::zavren::testing::portTaken(); ++i) ::usleep(100000); \
        ASSERT_FALSE(::zavren::testing::portTaken()) << "127.0.0.1:8765 is in use";       \
    } while (0)

}  // namespace zavren::testing
