#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch.h"
#include "platform/input.h"
#include "platform/log.h"
#include "platform/pasteboard.h"

namespace zavren {

// How a transcript reaches the focused application.
class Paster {
  public:
    enum class Outcome { typed, leftOnClipboard };
    virtual ~Paster() = default;
    virtual Outcome paste(const std::string& text) = 0;
    // Puts back what a paste still holds on the clipboard.
    virtual void restoreNow() = 0;
    // While the engine works: save the clipboard ahead, so the paste need not wait
    // on other applications; and drop that copy when no paste follows.
    virtual void prepare() {}
    virtual void forgetPrepared() {}
    // The keys of the last paste never reached the target: its transcript stays on
    // the clipboard for the user instead of the saved content.
    virtual void keepTranscript() {}
};

// Saves the user's clipboard, sets the transcript, sends the paste keystroke and
// restores the saved clipboard once the target has fetched the text (plus a grace
// for the rest of its handling) or, if nobody asks, after a fallback.
class PasteSequence : public Paster, public std::enable_shared_from_this<PasteSequence> {
  public:
    static constexpr double FETCH_GRACE = 0.1;
    static constexpr double RESTORE_FALLBACK = 5.0;
    // Beyond this the user's clipboard is saved as text only.
    static constexpr std::size_t MAX_SAVED_BYTES = std::size_t{16} << 20;

    static std::shared_ptr<PasteSequence> create(Dispatcher& dispatcher, Pasteboard& pasteboard,
                                                 KeySynthesizer& keys, AccessibilityTrust& trust,
                                                 SystemLog& log);

    Outcome paste(const std::string& text) override;
    void restoreNow() override;
    void prepare() override;
    void forgetPrepared() override;
    void keepTranscript() override;

  private:
    PasteSequence(Dispatcher& dispatcher, Pasteboard& pasteboard, KeySynthesizer& keys,
                  AccessibilityTrust& trust, SystemLog& log);
    Pasteboard::Formats save();
    void restoreAfter(double secs);

    Dispatcher& dispatcher_;
    Pasteboard& pasteboard_;
    KeySynthesizer& keys_;
    AccessibilityTrust& trust_;
    SystemLog& log_;
    std::optional<Pasteboard::Formats> saved_;
    // Saved ahead, good only while the clipboard's change count stays the same.
    struct Prepared {
        std::uint64_t changeCount;
        Pasteboard::Formats formats;
    };
    std::optional<Prepared> prepared_;
    bool fetched_ = false;
    // Bumped at each restore, so the timers of a finished paste do nothing.
    std::uint64_t gen_ = 0;
};

}  // namespace zavren
