#pragma once

#include <chrono>
#include <thread>

namespace zavren::test {

// Real-time wait for integration and system tests: polls `done` until it holds or
// `limit` passes. Unit tests use the virtual-time dispatcher instead.
template <class Pred>
bool waitFor(Pred done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace zavren::test
