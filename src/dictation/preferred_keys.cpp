#include "dictation/preferred_keys.h"

#include <utility>

namespace zavren {

PreferredKeys::PreferredKeys(Primary primary, std::shared_ptr<PortalKeyboard> portal, AppState& st)
    : primary_(std::move(primary)), portal_(std::move(portal)) {
    // The session opens while the user speaks, so the paste need not wait for it.
    listening_ = st.subscribe([this, &st](AppState::Field f) {
        if (f == AppState::Field::state && st.state() == RecState::listening && portalWanted())
            portal_->warmUp();
    });
}

bool PreferredKeys::portalWanted() {
    return primary_.known() && !primary_.trust.isTrusted(false);
}

bool PreferredKeys::isTrusted(bool prompt) {
    if (primary_.trust.isTrusted(false)) return true;
    return primary_.known() && portal_->isTrusted(prompt);
}

void PreferredKeys::askAgain() {
    if (portalWanted()) portal_->askAgain();
}

void PreferredKeys::postPaste(PasteKeys keys) {
    if (primary_.trust.isTrusted(false))
        primary_.keys.postPaste(keys);
    else
        portal_->postPaste(keys);
}

}  // namespace zavren
