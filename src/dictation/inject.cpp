#include "dictation/controller.h"
#include "dictation/hints.h"

namespace zavren {

void DictationController::inject(const std::string& text) {
    if (!d_.trust.isTrusted(false)) {
        // Leave the text for the user to paste by hand, and ask for the permission
        // again: on every dictation until it is granted.
        d_.pasteboard.clear();
        d_.pasteboard.setString(text, PASTEBOARD_STRING_TYPE);
        d_.pasteboard.setString("", PASTEBOARD_TRANSIENT_TYPE);
        flashHint(HINT_PASTE_BY_HAND, PASTE_HINT_SECONDS);
        d_.trust.isTrusted(true);
        return;
    }

    std::optional<std::string> saved = d_.pasteboard.string();
    d_.pasteboard.clear();
    d_.pasteboard.setString(text, PASTEBOARD_STRING_TYPE);
    // Clipboard managers skip entries carrying this marker.
    d_.pasteboard.setString("", PASTEBOARD_TRANSIENT_TYPE);
    d_.keys.postPaste();

    // The target reads the clipboard only after it handles the keystroke.
    std::weak_ptr<DictationController> weak = weak_from_this();
    d_.dispatcher.postAfter(seconds(RESTORE_DELAY), [weak, saved = std::move(saved)] {
        auto self = weak.lock();
        if (!self) return;
        self->d_.pasteboard.clear();
        if (saved) self->d_.pasteboard.setString(*saved, PASTEBOARD_STRING_TYPE);
    });
}

void DictationController::showPanel() {
    d_.panel.show();
}

void DictationController::hidePanel() {
    d_.panel.hide();
}

// Each hint schedules its own clearing, which clears whatever hint is showing then.
void DictationController::flashHint(const std::string& text, double secs) {
    d_.st.setHint(text);
    showPanel();
    std::weak_ptr<DictationController> weak = weak_from_this();
    d_.dispatcher.postAfter(seconds(secs), [weak] {
        auto self = weak.lock();
        if (!self) return;
        self->d_.st.setHint(std::nullopt);
        if (!self->recording_) self->hidePanel();
    });
}

}  // namespace zavren
