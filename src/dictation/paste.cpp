#include "dictation/paste.h"

#include <utility>

#include "shared/constants.h"
#include "shared/trace.h"

namespace zavren {

std::shared_ptr<PasteSequence> PasteSequence::create(Dispatcher& dispatcher, Pasteboard& pasteboard,
                                                     KeySynthesizer& keys,
                                                     AccessibilityTrust& trust, SystemLog& log) {
    std::shared_ptr<PasteSequence> p(new PasteSequence(dispatcher, pasteboard, keys, trust, log));
    std::weak_ptr<PasteSequence> weak = p;
    pasteboard.onFetched([weak] {
        // The first fetch counts: a reader that keeps asking must not hold the
        // user's clipboard back.
        if (auto self = weak.lock(); self && self->saved_ && !self->fetched_) {
            self->fetched_ = true;
            self->restoreAfter(FETCH_GRACE);
        }
    });
    return p;
}

PasteSequence::PasteSequence(Dispatcher& dispatcher, Pasteboard& pasteboard, KeySynthesizer& keys,
                             AccessibilityTrust& trust, SystemLog& log)
    : dispatcher_(dispatcher), pasteboard_(pasteboard), keys_(keys), trust_(trust), log_(log) {}

Pasteboard::Formats PasteSequence::save() {
    Pasteboard::Formats formats;
    std::size_t total = 0;
    bool tooBig = false;
    for (const auto& type : pasteboard_.types()) {
        auto bytes = pasteboard_.data(type);
        if (!bytes) continue;
        total += bytes->size();
        if (total > MAX_SAVED_BYTES) {
            tooBig = true;
            break;
        }
        formats.emplace(type, std::move(*bytes));
    }
    if (!tooBig) return formats;
    log_.line(LOG_PREFIX + "剪贴板内容超过 16 MiB,听写后只恢复其中的文本");
    Pasteboard::Formats text;
    if (auto t = pasteboard_.data(PASTEBOARD_TEXT_TYPE); t && t->size() <= MAX_SAVED_BYTES)
        text.emplace(PASTEBOARD_TEXT_TYPE, std::move(*t));
    return text;
}

Paster::Outcome PasteSequence::paste(const std::string& text) {
    // An earlier paste still waiting must not have its transcript saved as the user's.
    restoreNow();
    if (!trust_.isTrusted(false)) {
        // Leave the text for the user to paste by hand, and ask for the permission
        // again: on every dictation until it is granted.
        pasteboard_.set({{PASTEBOARD_TEXT_TYPE, text}}, true);
        trust_.askForTrust();
        return Outcome::leftOnClipboard;
    }
    trace::mark("paste-save");
    std::optional<Prepared> prepared = std::exchange(prepared_, std::nullopt);
    saved_ = prepared && pasteboard_.changeCount() == prepared->changeCount
                 ? std::move(prepared->formats)
                 : save();
    trace::mark("paste-set");
    fetched_ = false;
    pasteboard_.set({{PASTEBOARD_TEXT_TYPE, text}}, true);
    keys_.postPaste();
    restoreAfter(RESTORE_FALLBACK);
    return Outcome::typed;
}

void PasteSequence::prepare() {
    prepared_.reset();
    const std::optional<std::uint64_t> count = pasteboard_.changeCount();
    if (!count || !trust_.isTrusted(false)) return;
    prepared_ = Prepared{*count, save()};
}

void PasteSequence::forgetPrepared() {
    prepared_.reset();
}

void PasteSequence::keepTranscript() {
    if (!saved_) return;
    ++gen_;
    saved_.reset();
}

void PasteSequence::restoreAfter(double secs) {
    const std::uint64_t gen = gen_;
    std::weak_ptr<PasteSequence> weak = weak_from_this();
    dispatcher_.postAfter(seconds(secs), [weak, gen] {
        auto self = weak.lock();
        if (self && self->gen_ == gen) self->restoreNow();
    });
}

void PasteSequence::restoreNow() {
    if (!saved_) return;
    ++gen_;
    pasteboard_.set(std::exchange(saved_, std::nullopt).value(), false);
}

}  // namespace zavren
