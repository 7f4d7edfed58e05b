#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/http.h"
#include "posix/process_launcher.h"
#include "posix/run_loop.h"
#include "shared/constants.h"
#include "shared/types.h"
#include "support/wait_for.h"

namespace zavren::testing {

// tools/fake-engine as a real child process on 127.0.0.1:8765, in either flavour,
// with a behaviour script and a request log the test reads back.
class EngineProcess {
  public:
    EngineProcess(EngineKind kind, const std::string& dir, const nlohmann::json& script)
        : log_(dir + "/engine-requests.jsonl") {
        ProcessSpec spec;
        spec.exec = ZAVREN_FAKE_ENGINE;
        spec.env = {{"PATH", "/usr/bin:/bin"},
                    {"FAKE_ENGINE_SCRIPT", script.dump()},
                    {"FAKE_ENGINE_LOG", log_},
                    {"ZAVREN_PORT", std::to_string(PORT)}};
        const std::string file = dir + (kind == EngineKind::llama ? "/model.gguf" : "/server.py");
        std::ofstream(file) << "x";
        spec.args = {file};
        if (kind == EngineKind::llama)
            spec.args = {"-m",     file,          "--mmproj", file,
                         "--host", LOOPBACK_HOST, "--port",   std::to_string(PORT)};
        const int out = ::open((dir + "/engine.out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        spec.outputFd = out;
        child_ = launcher_.launch(spec, [exited = exited_](int) { *exited = true; }).child;
        if (out >= 0) ::close(out);
    }

    ~EngineProcess() {
        if (!child_) return;
        child_->terminate();
        if (!test::waitFor([&] { return exited_->load(); }, std::chrono::seconds(3)))
            child_->kill();
        test::waitFor([&] { return exited_->load(); }, std::chrono::seconds(3));
    }

    // Polls /health until this engine (not some other one on the port) answers 200.
    bool waitHealthy(RunLoopDispatcher& loop, HttpClient& http, Duration timeout) {
        const auto deadline = loop.now() + timeout;
        while (loop.now() < deadline && child_ && !*exited_) {
            auto status = std::make_shared<std::atomic<int>>(-1);
            HttpRequest r;
            r.url = HEALTH;
            r.timeout = seconds(1);
            http.send(r, [status](HttpResponse resp) { *status = resp.error ? 0 : resp.status; });
            loop.runUntil([&] { return *status >= 0; }, seconds(2));
            if (*status == 200) return !requests("/health").empty();
            loop.runFor(seconds(0.05));
        }
        return false;
    }

    // Requests in arrival order; transcriptions only unless `path` is given.
    std::vector<nlohmann::json> requests(const std::string& path = "") const {
        std::vector<nlohmann::json> out;
        std::ifstream in(log_);
        for (std::string line; std::getline(in, line);) {
            auto l = nlohmann::json::parse(line, nullptr, false);
            if (!l.is_object() || l.value("event", "") != "request") continue;
            if (path.empty() ? l.contains("index") : l.value("path", "") == path) out.push_back(l);
        }
        return out;
    }

  private:
    std::string log_;
    PosixProcessLauncher launcher_;
    std::shared_ptr<ChildProcess> child_;
    std::shared_ptr<std::atomic<bool>> exited_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace zavren::testing
