#pragma once

#include <functional>
#include <string>
#include <utility>

#include "platform/ui.h"

namespace zavren {

// The indicator of a Wayland session. Where the compositor offers a layer shell the
// capsule shows everything; elsewhere no capsule can be shown without taking the
// focus, so the tray icon carries the state and every hint becomes a desktop
// notification. Should the capsule's connection break later, hints go the same way.
class WaylandIndicator : public IndicatorPanel {
  public:
    using Notify = std::function<void(const std::string& text, double seconds)>;

    WaylandIndicator(IndicatorPanel& capsule, std::function<bool()> capsuleAvailable, Notify notify)
        : capsule_(capsule), available_(std::move(capsuleAvailable)), notify_(std::move(notify)) {}

    void setup() override { capsule_.setup(); }
    void show() override {
        if (available_()) capsule_.show();
    }
    void hide() override { capsule_.hide(); }
    void showHint(const std::string& text, double seconds) override {
        if (available_())
            capsule_.show();
        else
            notify_(text, seconds);
    }

  private:
    IndicatorPanel& capsule_;
    std::function<bool()> available_;
    Notify notify_;
};

}  // namespace zavren
