#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
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
    enum class Outcome {
        typed,            // the focused application fetched it
        leftOnClipboard,  // nobody fetched it: it waits for the user to paste it
        nothing,          // nothing was left of it to paste once cleaned
    };
    // Told once, on the main thread, when the outcome is known.
    using Done = std::function<void(Outcome)>;

    virtual ~Paster() = default;
    virtual void paste(const std::string& text, Done done) = 0;
    // While the engine works: save the clipboard ahead, so the paste need not wait
    // on other applications; and drop that copy when no paste follows.
    virtual void prepare() {}
    virtual void forgetPrepared() {}
    // The keys of the last paste never reached the target: its transcript stays on
    // the clipboard for the user instead of the saved content.
    virtual void keepTranscript() {}
};

// Pastes one transcript at a time, in order: the user's clipboard is saved once,
// each transcript goes on the clipboard only after the one before was fetched
// (plus a grace for the rest of the target's handling), and the saved clipboard
// comes back after the last of the run. A transcript nobody fetched stays on the
// clipboard for the user to paste by hand, with whatever queued behind it.
class PasteSequence : public Paster, public std::enable_shared_from_this<PasteSequence> {
  public:
    static constexpr double FETCH_GRACE = 0.1;
    // Where the offer comes late, the desktop's own clipboard keeper may read it at
    // once and serve the target later: the restore leaves the target this long.
    static constexpr double KEEPER_GRACE = 1.0;
    // How long the focused application has to fetch a transcript once the chord is sent.
    static constexpr double FETCH_DEADLINE = 3.0;
    // How long a pasteboard that offers late may take before the transcript counts as not taken.
    static constexpr double OFFER_DEADLINE = 2.0;
    // Such a pasteboard's helper may take the keyboard focus to set the selection (wl-copy
    // where the compositor has no clipboard protocol) and give it back only after it says
    // the offer is up: keys sent before the focus is back reach no one. GNOME gave it back
    // up to 140 ms after the offer on a loaded machine.
    static constexpr double FOCUS_RETURN = 0.3;
    // How long a transcript nobody fetched waits for the user's own paste.
    static constexpr double KEEP_FOR = 60.0;
    // Beyond this the user's clipboard is saved as text only.
    static constexpr std::size_t MAX_SAVED_BYTES = std::size_t{16} << 20;

    static std::shared_ptr<PasteSequence> create(Dispatcher& dispatcher, Pasteboard& pasteboard,
                                                 KeySynthesizer& keys, AccessibilityTrust& trust,
                                                 SystemLog& log);

    void paste(const std::string& text, Done done) override;
    void prepare() override;
    void forgetPrepared() override;
    void keepTranscript() override;

  private:
    enum class Phase { idle, awaitingOffer, focusReturning, awaitingFetch, fetched, kept };
    struct Pending {
        std::string text;
        Done done;
    };

    PasteSequence(Dispatcher& dispatcher, Pasteboard& pasteboard, KeySynthesizer& keys,
                  AccessibilityTrust& trust, SystemLog& log);
    Pasteboard::Formats save();
    void next();
    void offered();
    void focusReturned();
    void sendKeys();
    void fetched();
    void notTaken();
    void keep(const std::string& text, std::deque<Done> dones);
    void restore();
    void enter(Phase phase);
    void after(double secs, void (PasteSequence::*step)());

    Dispatcher& dispatcher_;
    Pasteboard& pasteboard_;
    KeySynthesizer& keys_;
    AccessibilityTrust& trust_;
    SystemLog& log_;
    std::deque<Pending> queue_;
    Phase phase_ = Phase::idle;
    // The transcript awaiting its fetch, as it went on the clipboard.
    std::optional<Pending> current_;
    bool currentInTerminal_ = false;
    PasteKeys currentKeys_ = PasteKeys::ctrlV;
    // Read before the keys went: the desktop's clipboard keeper took a copy to serve.
    bool readEarly_ = false;
    // The user's clipboard, held from the first paste of a run to the restore.
    std::optional<Pasteboard::Formats> saved_;
    std::string kept_;  // the transcript left for the user, while it waits there
    // Saved ahead, good only while the clipboard's change count stays the same.
    struct Prepared {
        std::uint64_t changeCount;
        Pasteboard::Formats formats;
    };
    std::optional<Prepared> prepared_;
    // Bumped at each change of phase, so the timers of an earlier one do nothing.
    std::uint64_t gen_ = 0;
};

}  // namespace zavren
