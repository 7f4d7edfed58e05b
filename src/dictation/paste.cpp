#include "dictation/paste.h"

#include <utility>

#include "dictation/paste_chord.h"
#include "shared/constants.h"
#include "shared/trace.h"
#include "text/clean_text.h"

namespace zavren {

std::shared_ptr<PasteSequence> PasteSequence::create(Dispatcher& dispatcher, Pasteboard& pasteboard,
                                                     KeySynthesizer& keys,
                                                     AccessibilityTrust& trust, SystemLog& log) {
    std::shared_ptr<PasteSequence> p(new PasteSequence(dispatcher, pasteboard, keys, trust, log));
    std::weak_ptr<PasteSequence> weak = p;
    pasteboard.onFetched([weak] {
        if (auto self = weak.lock()) self->fetched();
    });
    pasteboard.onOffered([weak] {
        if (auto self = weak.lock()) self->offered();
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

void PasteSequence::paste(const std::string& text, Done done) {
    queue_.push_back({text, std::move(done)});
    // A transcript left for the user gives way to a new one: the user dictated on.
    if (phase_ == Phase::idle || phase_ == Phase::kept) next();
}

void PasteSequence::next() {
    if (queue_.empty()) {
        restore();
        return;
    }
    Pending item = std::move(queue_.front());
    queue_.pop_front();
    if (!saved_) {
        trace::mark("paste-save");
        std::optional<Prepared> prepared = std::exchange(prepared_, std::nullopt);
        saved_ = prepared && pasteboard_.changeCount() == prepared->changeCount
                     ? std::move(prepared->formats)
                     : save();
    }
    if (!trust_.isTrusted(false)) {
        // Ask for the permission again: on every dictation until it is granted.
        trust_.askForTrust();
        keep(cleanText(item.text, false), {std::move(item.done)});
        return;
    }
    const PasteChord chord = pasteChordFor(keys_.focusedApp(), pasteboard_.hasPrimary());
    item.text = cleanText(item.text, chord.terminal);
    if (item.text.empty()) {
        if (item.done) item.done(Outcome::nothing);
        next();
        return;
    }
    if (chord.byHand) {
        keep(item.text, {std::move(item.done)});
        return;
    }
    trace::mark("paste-set");
    pasteboard_.set({{PASTEBOARD_TEXT_TYPE, item.text}}, Pasteboard::Content::pasted);
    if (chord.primary) pasteboard_.setPrimary(item.text);
    current_ = std::move(item);
    currentInTerminal_ = chord.terminal;
    currentKeys_ = chord.keys;
    if (pasteboard_.offersLater()) {
        enter(Phase::awaitingOffer);
        after(OFFER_DEADLINE, &PasteSequence::notTaken);
        return;
    }
    sendKeys();
}

void PasteSequence::offered() {
    if (phase_ != Phase::awaitingOffer) return;
    enter(Phase::focusReturning);
    readEarly_ = false;
    after(FOCUS_RETURN, &PasteSequence::focusReturned);
}

void PasteSequence::focusReturned() {
    sendKeys();
    if (readEarly_) fetched();
}

void PasteSequence::sendKeys() {
    enter(Phase::awaitingFetch);
    after(FETCH_DEADLINE, &PasteSequence::notTaken);
    keys_.postPaste(currentKeys_);
}

// The first fetch counts: a reader that keeps asking must not hold the queue back.
void PasteSequence::fetched() {
    if (phase_ == Phase::focusReturning) {
        readEarly_ = true;
    } else if (phase_ == Phase::awaitingFetch) {
        Done done = std::exchange(current_, std::nullopt)->done;
        enter(Phase::fetched);
        after(pasteboard_.offersLater() ? KEEPER_GRACE : FETCH_GRACE, &PasteSequence::next);
        if (done) done(Outcome::typed);
    } else if (phase_ == Phase::kept) {
        // The user's own paste took it.
        enter(Phase::fetched);
        after(FETCH_GRACE, &PasteSequence::next);
    }
}

// What queued behind a transcript nobody took is left with it, in order: pasting
// it elsewhere could land it before the one the user still has to paste.
void PasteSequence::notTaken() {
    log_.line(LOG_PREFIX + "粘贴未被目标程序接收,转写结果留在剪贴板上");
    Pending item = std::exchange(current_, std::nullopt).value();
    std::string text = std::move(item.text);
    std::deque<Done> dones{std::move(item.done)};
    for (auto& more : queue_) {
        std::string cleaned = cleanText(more.text, currentInTerminal_);
        if (!cleaned.empty()) text += (currentInTerminal_ ? " " : "\n") + cleaned;
        dones.push_back(std::move(more.done));
    }
    queue_.clear();
    keep(text, std::move(dones));
}

void PasteSequence::keep(const std::string& text, std::deque<Done> dones) {
    pasteboard_.set({{PASTEBOARD_TEXT_TYPE, text}}, Pasteboard::Content::kept);
    kept_ = text;
    enter(Phase::kept);
    after(KEEP_FOR, &PasteSequence::restore);
    for (auto& done : dones)
        if (done) done(Outcome::leftOnClipboard);
}

void PasteSequence::restore() {
    const bool wasKept = phase_ == Phase::kept;
    enter(Phase::idle);
    if (!saved_) return;
    Pasteboard::Formats saved = std::exchange(saved_, std::nullopt).value();
    // What the user copied while the transcript waited for them is newer than what
    // we saved before it: theirs stays.
    if (wasKept && pasteboard_.data(PASTEBOARD_TEXT_TYPE) != kept_) return;
    pasteboard_.set(saved, Pasteboard::Content::restored);
}

void PasteSequence::prepare() {
    prepared_.reset();
    // Mid-run the clipboard holds a transcript, and the user's is saved already.
    if (phase_ != Phase::idle) return;
    const std::optional<std::uint64_t> count = pasteboard_.changeCount();
    if (!count || !trust_.isTrusted(false)) return;
    prepared_ = Prepared{*count, save()};
}

void PasteSequence::forgetPrepared() {
    prepared_.reset();
}

// The chord is known not to arrive (the desktop refused or dropped it): the
// transcript is left for the user now rather than at the fetch deadline.
void PasteSequence::keepTranscript() {
    if (phase_ == Phase::awaitingFetch || phase_ == Phase::awaitingOffer) notTaken();
}

void PasteSequence::enter(Phase phase) {
    phase_ = phase;
    ++gen_;
}

void PasteSequence::after(double secs, void (PasteSequence::*step)()) {
    std::weak_ptr<PasteSequence> weak = weak_from_this();
    dispatcher_.postAfter(seconds(secs), [weak, gen = gen_, step] {
        if (auto self = weak.lock(); self && self->gen_ == gen) ((*self).*step)();
    });
}

}  // namespace zavren
