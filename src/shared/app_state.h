#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shared/types.h"

namespace zavren {

// The one observable object the views follow. Every setter publishes, even when
// the value is unchanged, so a view never misses a write. Main thread only.
class AppState {
  public:
    enum class Field { state, engine, levels, hint, preview };
    using Levels = std::array<double, 7>;
    using Observer = std::function<void(Field)>;
    // Keeps an observer registered while held; dropping it unsubscribes.
    using Subscription = std::shared_ptr<void>;

    static constexpr double INITIAL_LEVEL = 0.12;

    RecState state() const { return state_; }
    EngineState engine() const { return engine_; }
    // Why the engine failed, for people; empty when no particular cause is known.
    const std::string& engineProblem() const { return engineProblem_; }
    const Levels& levels() const { return levels_; }
    const std::optional<std::string>& hint() const { return hint_; }
    const std::string& preview() const { return preview_; }

    void setState(RecState s);
    void setEngine(EngineState e, std::string problem = {});
    // Drops the oldest level and appends the newest at the end.
    void pushLevel(double level);
    void setHint(std::optional<std::string> h);
    void setPreview(std::string p);

    [[nodiscard]] Subscription subscribe(Observer observer);

  private:
    void publish(Field f);

    RecState state_ = RecState::idle;
    EngineState engine_ = EngineState::starting;
    std::string engineProblem_;
    Levels levels_{INITIAL_LEVEL, INITIAL_LEVEL, INITIAL_LEVEL, INITIAL_LEVEL,
                   INITIAL_LEVEL, INITIAL_LEVEL, INITIAL_LEVEL};
    std::optional<std::string> hint_;
    std::string preview_;
    std::vector<std::weak_ptr<Observer>> observers_;
};

}  // namespace zavren
