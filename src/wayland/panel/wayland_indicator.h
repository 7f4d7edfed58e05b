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
// Without a capsule the user still learns that the key was heard: a notification
// while recording, replaced by the hint that follows or taken away.
class WaylandIndicator : public IndicatorPanel {
  public:
    using Notify = std::function<void(const std::string& text, double seconds)>;
    static constexpr const char* LISTENING_NOTICE = "正在听…";
    // Long enough for any dictation: it goes when the dictation ends.
    static constexpr double LISTENING_NOTICE_SECONDS = 600;

    WaylandIndicator(IndicatorPanel& capsule, std::function<bool()> capsuleAvailable, Notify notify,
                     std::function<bool()> listening = {}, std::function<void()> withdraw = {})
        : capsule_(capsule),
          available_(std::move(capsuleAvailable)),
          notify_(std::move(notify)),
          listening_(std::move(listening)),
          withdraw_(std::move(withdraw)) {}

    void setup() override { capsule_.setup(); }
    void show() override {
        if (available_()) {
            capsule_.show();
        } else if (listening_ && listening_()) {
            notify_(LISTENING_NOTICE, LISTENING_NOTICE_SECONDS);
            notified_ = true;
        }
    }
    void hide() override {
        capsule_.hide();
        if (std::exchange(notified_, false) && withdraw_) withdraw_();
    }
    void showHint(const std::string& text, double seconds) override {
        if (available_()) {
            capsule_.show();
        } else {
            notify_(text, seconds);
            notified_ = true;
        }
    }

  private:
    IndicatorPanel& capsule_;
    std::function<bool()> available_;
    Notify notify_;
    std::function<bool()> listening_;
    std::function<void()> withdraw_;
    bool notified_ = false;
};

}  // namespace zavren
