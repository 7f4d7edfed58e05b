#include "shared/app_state.h"

#include <algorithm>

namespace zavren {

void AppState::setState(RecState s) {
    state_ = s;
    publish(Field::state);
}

void AppState::setEngine(EngineState e, std::string problem) {
    engine_ = e;
    engineProblem_ = std::move(problem);
    publish(Field::engine);
}

void AppState::pushLevel(double level) {
    std::rotate(levels_.begin(), levels_.begin() + 1, levels_.end());
    levels_.back() = level;
    publish(Field::levels);
}

void AppState::setHint(std::optional<std::string> h) {
    hint_ = std::move(h);
    publish(Field::hint);
}

void AppState::setPreview(std::string p) {
    preview_ = std::move(p);
    publish(Field::preview);
}

AppState::Subscription AppState::subscribe(Observer observer) {
    auto holder = std::make_shared<Observer>(std::move(observer));
    observers_.push_back(holder);
    return holder;
}

void AppState::publish(Field f) {
    // Copy first: an observer may subscribe or drop its subscription while we notify.
    auto snapshot = observers_;
    for (auto& weak : snapshot) {
        if (auto obs = weak.lock()) (*obs)(f);
    }
    std::erase_if(observers_, [](const auto& w) { return w.expired(); });
}

}  // namespace zavren
