#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "engine/server_manager.h"
#include "fakes/fake_ports.h"
#include "posix/curl_http_client.h"
#include "posix/proc_net_port_owners.h"
#include "posix/process_launcher.h"
#include "posix/run_loop.h"
#include "shared/constants.h"
#include "support/fake_engine.h"
#include "unit/engine/engine_layout.h"

namespace zavren::test {

// Whether something accepts connections on the engine port.
inline bool portTaken() {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{AF_INET, htons(PORT), {htonl(INADDR_LOOPBACK)}, {}};
    bool taken = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(s);
    return taken;
}

// A supervisor over the real run loop, curl client, processes and socket table.
struct EngineRig {
    TempDir tmp;
    Paths paths = Paths::under(tmp.path);
    RunLoopDispatcher loop{2};
    CurlHttpClient http;
    PosixProcessLauncher processes;
    ProcNetPortOwners ports;
    fakes::FakeLog log;  // touched on the loop (test) thread only
    std::vector<EngineState> states;
    std::shared_ptr<ServerManager> server;

    EngineRig() {
        server = ServerManager::create({loop, http, processes, log, ports, paths, ""});
        server->onState = [this](EngineState s) { states.push_back(s); };
    }
    ~EngineRig() { server->stopAndWait(); }

    std::string engineDir(const std::string& version) const {
        return paths.engineRoot + "/engine-" + version;
    }
    // Runs the loop until `state` is reported.
    bool waitFor(EngineState state) {
        states.clear();
        return loop.runUntil([&] { return std::ranges::count(states, state) > 0; }, seconds(20));
    }
};

// Every test that binds the engine port starts from a free port.
#define REQUIRE_FREE_ENGINE_PORT()                                                     \
    do {                                                                               \
        if (::zavren::test::fakeEngine().empty()) GTEST_SKIP() << "no fake engine";    \
        for (int i = 0; i < 100 && ::zavren::test::portTaken(); ++i) ::usleep(100000); \
        ASSERT_FALSE(::zavren::test::portTaken()) << "127.0.0.1:8765 is in use";       \
    } while (0)

}  // namespace zavren::test
