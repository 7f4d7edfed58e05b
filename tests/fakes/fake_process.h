#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/process.h"

namespace zavren::fakes {

// Records launches; a test ends a child with exit(). Termination
// callbacks run on the test thread, inside exit().
class FakeProcessLauncher : public ProcessLauncher {
  public:
    struct FakeChild : ChildProcess {
        int pidValue = 0;
        bool running = true;
        bool ignoresTerm = false;
        int terms = 0;
        int kills = 0;
        std::function<void(int)> onExit;
        int pid() const override { return pidValue; }
        bool isRunning() const override { return running; }
        bool waitForExit(Duration) override { return !running; }
        void terminate() override {
            ++terms;
            if (!ignoresTerm) end(15);
        }
        void kill() override {
            ++kills;
            end(9);
        }
        void end(int status) {
            if (!running) return;
            running = false;
            if (onExit) onExit(status);
        }
    };

    std::vector<ProcessSpec> launches;
    std::vector<std::shared_ptr<FakeChild>> children;
    bool failLaunch = false;
    bool termIgnored = false;  // children made from now on ignore SIGTERM
    std::map<std::string, std::string> env{{"PATH", "/usr/bin:/bin"}};

    LaunchResult launch(const ProcessSpec& spec, std::function<void(int)> onExit) override {
        launches.push_back(spec);
        if (failLaunch) return {nullptr, "无法启动"};
        auto child = std::make_shared<FakeChild>();
        child->pidValue = 1000 + static_cast<int>(children.size());
        child->ignoresTerm = termIgnored;
        child->onExit = std::move(onExit);
        children.push_back(child);
        return {child, {}};
    }
    RunResult run(const ProcessSpec&, const RunOptions&) override {
        return {.launched = true, .status = 0};
    }
    std::map<std::string, std::string> environment() const override { return env; }
};

}  // namespace zavren::fakes
