#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "engine/installer/phase.h"

namespace zavren::fakes {

// An installer whose phase the test sets; setPhase() notifies like the real one.
class FakeInstaller : public InstallerHandle {
  public:
    int starts = 0;
    // Runs inside start(), e.g. to move to the manifest phase as the real one does.
    std::function<void()> onStart;

    const InstallPhase& phase() const override { return phase_; }

    Subscription subscribe(std::function<void()> observer) override {
        auto token = std::make_shared<std::function<void()>>(std::move(observer));
        observers_.push_back(token);
        return token;
    }

    void start() override {
        ++starts;
        if (onStart) onStart();
    }

    void setPhase(InstallPhase::Value value) {
        phase_.value = std::move(value);
        for (const auto& weak : std::vector(observers_))  // a copy: observers may unsubscribe
            if (auto observer = weak.lock()) (*observer)();
    }

    long liveObservers() const {
        return std::ranges::count_if(observers_, [](auto& w) { return !w.expired(); });
    }

  private:
    InstallPhase phase_;
    std::vector<std::weak_ptr<std::function<void()>>> observers_;
};

}  // namespace zavren::fakes
