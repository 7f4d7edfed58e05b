#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zavren {

// MIME type of plain text on the clipboard; UTF-8.
inline const std::string PASTEBOARD_TEXT_TYPE = "text/plain";

// The clipboard as a set of formats (MIME type -> bytes).
class Pasteboard {
  public:
    using Formats = std::map<std::string, std::string>;

    virtual ~Pasteboard() = default;
    // The types on offer now; reading them may ask another application.
    virtual std::vector<std::string> types() = 0;
    virtual std::optional<std::string> data(const std::string& type) = 0;
    // What is put on the clipboard, which decides its hints and whether fetches count.
    enum class Content {
        // The user's own clipboard put back: no hints, so a clipboard manager may keep it.
        restored,
        // A transcript on its way into the focused application: marked so clipboard
        // managers and password-aware tools keep it out of their history.
        pasted,
        // A transcript left for the user to paste: unmarked, as some clipboard
        // managers drop marked entries at once.
        kept,
        // Text the user asked for (an address): a plain copy, as one made by hand.
        copied,
    };

    // Replaces the whole content; empty formats leave the clipboard empty.
    virtual void set(const Formats& formats, Content content) = 0;
    // Whether setPrimary() works here.
    virtual bool hasPrimary() { return false; }
    // Puts a transcript on the PRIMARY selection too, for applications that paste
    // only that one; left alone afterwards, as any selection of the user's replaces it.
    virtual void setPrimary(const std::string& text) { (void)text; }
    // Called on the main thread once another application has fetched text from
    // the transcript set last (clipboard or PRIMARY).
    virtual void onFetched(std::function<void()> handler) = 0;
    // Whether a transcript set for a paste reaches other applications only some
    // time after set() returns (a helper must first win the selection): the paste
    // keys then wait for onOffered, or a reader would find the old content.
    virtual bool offersLater() { return false; }
    // Called on the main thread once the transcript set last is on offer.
    virtual void onOffered(std::function<void()> handler) { (void)handler; }
    // A number that differs whenever the content may have changed since it was
    // last read; absent where the platform cannot tell.
    virtual std::optional<std::uint64_t> changeCount() { return std::nullopt; }
};

}  // namespace zavren
