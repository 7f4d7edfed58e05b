#include "qt/live_services.h"

#include "engine/locator.h"
#include "text/itn.h"
#include "text/terms.h"

namespace zavren {

bool LiveEngineService::engineAvailable() {
    return server_->engineAvailable();
}

void LiveEngineService::start() {
    server_->start();
}

void LiveEngineService::stop() {
    server_->stop();
}

void LiveEngineService::restart() {
    server_->restart();
}

EngineKind LiveEngineService::currentKind() const {
    return server_->currentKind();
}

void LiveEngineService::setOnState(std::function<void(EngineState)> onState) {
    server_->onState = std::move(onState);
}

std::optional<std::string> LiveEngineService::installedVersion() {
    auto engine = EngineLocator::installed(root_);
    if (!engine) return std::nullopt;
    return engine->version;
}

void LiveEngineService::removeInstalled() {
    EngineLocator::removeAll(root_);
}

bool LiveTextService::itnEnabled() {
    return ITN::enabled(defaults_);
}

void LiveTextService::toggleItn() {
    ITN::toggle(defaults_);
}

void LiveTextService::openTerms() {
    zavren::openTerms(termsFile_, desktop_);
}

}  // namespace zavren
