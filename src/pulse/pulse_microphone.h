#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/dispatch.h"
#include "platform/input.h"
#include "pulse/pulse_connection.h"

namespace zavren {

// The microphone counts as available when the sound server's default source exists
// and is a capture device. A monitor source (the loopback of an output) does not
// count: dictating into it would record the speakers, not the user.
class PulseMicrophone : public MicrophoneAccess {
  public:
    explicit PulseMicrophone(Dispatcher& dispatcher,
                             std::shared_ptr<PulseConnection> connection = nullptr);

    // Asks on a background thread; questions asked while one is out share its answer.
    void authorized(std::function<void(bool)> answer) override;
    // There is no permission dialog to raise on Linux: this re-checks.
    void request(std::function<void(bool granted)> done) override;

    // The question itself; blocks up to QUERY_TIMEOUT on a stuck server.
    static bool query(PulseConnection& conn);

  private:
    // Main thread only.
    struct State {
        std::vector<std::function<void(bool)>> waiting;
        bool asking = false;
    };

    Dispatcher& dispatcher_;
    std::shared_ptr<PulseConnection> conn_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace zavren
