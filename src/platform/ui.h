#pragma once

namespace zavren {

// The floating indicator. It renders AppState by itself; the core only moves,
// shows and hides it.
class IndicatorPanel {
  public:
    virtual ~IndicatorPanel() = default;
    // Places it centred near the bottom of the main screen and shows it without
    // taking focus.
    virtual void show() = 0;
    virtual void hide() = 0;
};

}  // namespace zavren
