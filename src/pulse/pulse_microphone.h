#pragma once

#include <memory>

#include "platform/input.h"
#include "pulse/pulse_connection.h"

namespace zavren {

// The microphone counts as available when the sound server's default source exists
// and is a capture device. A monitor source (the loopback of an output) does not
// count: dictating into it would record the speakers, not the user.
class PulseMicrophone : public MicrophoneAccess {
  public:
    explicit PulseMicrophone(std::shared_ptr<PulseConnection> connection = nullptr);

    bool authorized() override;
    // There is no permission dialog to raise on Linux: this re-checks and answers
    // on the calling thread.
    void request(std::function<void(bool granted)> done) override;

  private:
    std::shared_ptr<PulseConnection> conn_;
};

}  // namespace zavren
