#pragma once

#include <memory>
#include <optional>

#include "platform/input.h"
#include "x11/alt_keys.h"
#include "x11/wm_class.h"
#include "x11/x_display.h"

namespace zavren {

// Types a paste chord into the focused window with XTest. Modifiers the user still holds are lifted
// around the chord and pressed again afterwards, so they never combine with it.
class XTestKeySynthesizer : public KeySynthesizer {
  public:
    explicit XTestKeySynthesizer(std::shared_ptr<SyntheticKeyLedger> ledger);

    std::vector<std::string> focusedApp() override;
    void postPaste(PasteKeys keys) override;

    // WM_CLASS of the toplevel that holds the keyboard focus; none without one.
    std::optional<WmClass> focusedWmClass();

  private:
    Display* display();

    std::shared_ptr<SyntheticKeyLedger> ledger_;
    DisplayPtr display_;
};

}  // namespace zavren
